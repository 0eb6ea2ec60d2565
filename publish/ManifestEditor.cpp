#include "publish/ManifestEditor.h"

#include "common/ManifestSignature.h"
#include "common/VersionManifest.h"
#include "common/ZorvaXMLDoc.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"
#include "publish/PublishErrors.h"
#include "publish/PublishTexts.h"

#include <exception>

namespace {

namespace tx = publishtexts;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsUtf8(const std::string& encoding) {
  return XMLSameName(encoding, "utf-8");
}

} // namespace

TManifestEditor::TManifestEditor(const std::optional<std::string>& bytes,
                                 const std::string& displayName, const std::string& rootName)
    : document_(NewXmlDocument(true, true)), displayName_(displayName) {
  document_->SetOptions(xoDocumentComments);
  if (!bytes) {
    document_->SetEncoding("UTF-8");
    document_->AddRootNode(rootName);
    return;
  }
  try {
    // What the client reads first: a manifest it cannot read is no base.
    if (LoadManifestBytes(*bytes)->GetDocumentElement() == nullptr)
      throw EPublishRefused(platform::FormatText(tx::kManifestUnreadable, displayName_, ""));
    TMemoryStream stream;
    stream.WriteBuffer(bytes->data(), static_cast<int64_t>(bytes->size()));
    stream.SetPosition(0);
    document_->LoadFromStream(&stream);
  } catch (const EPublishRefused&) {
    throw;
  } catch (const std::exception& e) {
    throw EPublishRefused(platform::FormatText(tx::kManifestUnreadable, displayName_, e.what()));
  }
  byteOrderMark_ = bytes->rfind(kByteOrderMark, 0) == 0;
  if (IsUtf8(document_->GetEncoding()) &&
      !platform::Utf8ToAnsiExact(std::string_view(*bytes).substr(byteOrderMark_ ? 3 : 0)))
    throw EPublishRefused(platform::FormatText(tx::kManifestLossy, displayName_));
}

IXMLNodeRef TManifestEditor::FindEntry(const std::string& key) const {
  IXMLNodeRef found;
  int count = 0;
  for (const IXMLNodeRef& entry : ManifestEntryNodes(document_)) {
    if (!ManifestNameMatches(FindAttribute(entry, "Name").value_or(""), key)) continue;
    found = entry;
    ++count;
  }
  if (count > 1)
    throw EPublishRefused(platform::FormatText(tx::kDuplicateEntries, displayName_, count,
                                               key.empty() ? tx::kEmptyName.str() : key));
  return found;
}

IXMLNodeRef TManifestEditor::AddEntry(const std::string& defaultName) {
  const std::vector<IXMLNodeRef> entries = ManifestEntryNodes(document_);
  const std::string name = entries.empty() ? defaultName : entries.front()->GetNodeName();
  return document_->GetDocumentElement()->AddChild(name);
}

void TManifestEditor::SetAttribute(const IXMLNodeRef& node, const std::string& name,
                                   const std::optional<std::string>& value) {
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  if (!value) {
    attributes->Delete(attributes->IndexOf(name));
    return;
  }
  attributes->Add(name)->SetAsString(*value);
}

std::string TManifestEditor::NoteElementName(const IXMLNodeRef& entry) const {
  const auto firstElement = [](const IXMLNodeRef& node) -> std::optional<std::string> {
    IXMLNodeListRef children = node->GetChildNodes();
    for (int32_t i = 0; i < children->GetCount(); ++i)
      if (children->GetNode(i)->GetNodeType() == TXMLNodeType::ntElement)
        return children->GetNode(i)->GetNodeName();
    return std::nullopt;
  };
  if (auto name = firstElement(entry)) return *name;
  for (const IXMLNodeRef& other : ManifestEntryNodes(document_))
    if (auto name = firstElement(other)) return *name;
  return "Detail";
}

void TManifestEditor::SetNotes(const IXMLNodeRef& entry,
                               const std::vector<std::string>& notes) const {
  const std::string name = NoteElementName(entry);
  IXMLNodeListRef children = entry->GetChildNodes();
  for (int32_t i = children->GetCount() - 1; i >= 0; --i)
    if (children->GetNode(i)->GetNodeType() == TXMLNodeType::ntElement) children->Delete(i);
  for (const std::string& note : notes)
    SetAttribute(entry->AddChild(name), kReleaseNoteAttribute, note);
  // An entry that had notes and gets none must not keep the text between
  // its old children: it would become the element's text.
  if (entry->GetChildNodes()->GetCount() == 0) entry->SetText("");
}

void TManifestEditor::SetExpires(int64_t utcSeconds) {
  SetAttribute(document_->GetDocumentElement(), kExpiresAttribute, UtcTimeText(utcSeconds));
}

std::string TManifestEditor::Bytes() const {
  TMemoryStream stream;
  document_->SaveToStream(&stream);
  std::string bytes(stream.Memory(), static_cast<size_t>(stream.GetSize()));
  if (byteOrderMark_ && IsUtf8(document_->GetEncoding())) bytes.insert(0, kByteOrderMark);
  return bytes;
}

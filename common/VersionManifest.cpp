#include "common/VersionManifest.h"

#include "common/IntegerText.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/ProfileText.h"
#include "platform/Stream.h"

const platform::AnsiText kReleaseNoteAttribute{"明细"};

namespace {

std::string AttributeText(const IXMLNodeRef& node, std::string_view name) {
  return FindAttribute(node, name).value_or(std::string());
}

int32_t RolloutPercent(const std::optional<std::string>& text) {
  const int32_t value = text ? StrToIntDef(*text, 100) : 100;
  return value >= 1 && value <= 100 ? value : 100;
}

} // namespace

std::optional<std::string> FindAttribute(const IXMLNodeRef& node, std::string_view name) {
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  // IndexOf, not GetAttribute: that one would add the attribute it misses.
  const int32_t index = attributes->IndexOf(std::string(name));
  if (index < 0) return std::nullopt;
  return attributes->GetItem(index)->GetAsString();
}

std::vector<IXMLNodeRef> ManifestEntryNodes(const IXMLDocumentRef& document) {
  std::vector<IXMLNodeRef> entries;
  IXMLNodeRef root = document->GetDocumentElement();
  if (root == nullptr) return entries;
  IXMLNodeListRef children = root->GetChildNodes();
  const int32_t count = children->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    IXMLNodeRef child = children->GetNode(i);
    if (child->GetNodeType() == TXMLNodeType::ntElement) entries.push_back(child);
  }
  return entries;
}

TManifestEntry ReadManifestEntry(const IXMLNodeRef& entry) {
  TManifestEntry e;
  e.name = AttributeText(entry, "Name");
  e.version = StrToIntDef(AttributeText(entry, "Version"), 0);
  e.versionPath = AttributeText(entry, "VersionPath");
  e.mustUpdate = StrToIntDef(AttributeText(entry, "MustUpdate"), 0);
  e.sha256 = FindAttribute(entry, "SHA256");
  e.signature = FindAttribute(entry, "Signature");
  e.rollout = RolloutPercent(FindAttribute(entry, "Rollout"));
  IXMLNodeListRef details = entry->GetChildNodes();
  const int32_t count = details->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    IXMLNodeRef detail = details->GetNode(i);
    if (detail->GetNodeType() == TXMLNodeType::ntElement)
      e.notes.push_back(AttributeText(detail, kReleaseNoteAttribute.str()));
  }
  return e;
}

std::vector<TManifestEntry> ReadManifestEntries(const IXMLDocumentRef& document) {
  std::vector<TManifestEntry> entries;
  for (const IXMLNodeRef& node : ManifestEntryNodes(document))
    entries.push_back(ReadManifestEntry(node));
  return entries;
}

bool ManifestNameMatches(std::string_view entryName, std::string_view key) {
  return platform::SameProfileName(entryName, key);
}

IXMLDocumentRef LoadManifestBytes(std::string_view bytes) {
  IXMLDocumentRef document = NewXmlDocument(false, false);
  document->SetOptions(document->GetOptions() | xoSkipComments);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  document->LoadFromStream(&stream);
  return document;
}

// The document: the root node, declaration properties, output switches and
// options; loading XML text from streams, files and strings with the encoding
// decided by the declaration or the encoding property.
#include "common/XMLMessages.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <limits>

std::string ReadStreamRest(TStream& stream) {
  const int64_t size = stream.GetSize() - stream.GetPosition();
  std::string bytes;
  if (size <= 0) return bytes;
  bytes.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min<size_t>(bytes.size() - done, std::numeric_limits<int32_t>::max());
    const int32_t got = stream.Read(bytes.data() + done, static_cast<int32_t>(chunk));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

TXMLEncodingInfo DetectXMLEncoding(std::string_view bytes) {
  TXMLEncodingInfo info;
  if (bytes.empty()) return info;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    info.found = true;
    info.byteOrderMark = true;
    info.encoding = "utf-8";
    return info;
  }
  const size_t first = bytes.find_first_not_of("\t\n\r ");
  if (first == std::string_view::npos) return info;
  if (bytes.substr(first, 6) != "<?xml ") return info;
  info.found = true;
  // Only a double-quoted value is recognised, and the search is not limited
  // to the declaration. The closing quote is searched from one byte past the
  // first byte of the name.
  const size_t key = bytes.find("encoding=\"", first);
  if (key == std::string_view::npos) return info;
  const size_t nameStart = key + 10;
  if (nameStart + 1 > bytes.size()) return info;
  const size_t close = bytes.find('"', nameStart + 1);
  if (close == std::string_view::npos) return info;
  info.encoding = bytes.substr(nameStart, close - nameStart);
  return info;
}

std::optional<TXMLEncodingInfo> DetectXMLEncodingPrefix(std::string_view bytes, bool complete) {
  if (complete) return DetectXMLEncoding(bytes);
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  if (bytes.size() < kMark.size() && kMark.starts_with(bytes)) return std::nullopt;
  if (bytes.starts_with(kMark)) return DetectXMLEncoding(bytes);
  const size_t first = bytes.find_first_not_of("\t\n\r ");
  if (first == std::string_view::npos) return std::nullopt;
  constexpr std::string_view kDeclaration = "<?xml ";
  const std::string_view rest = bytes.substr(first);
  if (!rest.starts_with(kDeclaration)) {
    if (rest.size() < kDeclaration.size() && kDeclaration.starts_with(rest)) return std::nullopt;
    return DetectXMLEncoding(bytes);
  }
  // The first encoding=" and the quote after it, when the bytes hold them,
  // are the first of the whole text too.
  const size_t key = bytes.find("encoding=\"", first);
  if (key == std::string_view::npos || key + 11 > bytes.size() ||
      bytes.find('"', key + 11) == std::string_view::npos)
    return std::nullopt;
  return DetectXMLEncoding(bytes);
}

bool TXMLDocument::QueryInterface(const TGUID& iid, void** obj) noexcept {
  if (iid == IXMLDocument::IID || iid == IXMLInterface::IID) {
    *obj = static_cast<IXMLDocument*>(this);
  } else if (iid == IXMLJSONText::IID) {
    *obj = static_cast<IXMLJSONText*>(this);
  } else if (iid == IXMLJSONFile::IID) {
    *obj = static_cast<IXMLJSONFile*>(this);
  } else {
    *obj = nullptr;
    return false;
  }
  AddRef();
  return true;
}

IXMLNodeRef TXMLDocument::AddRootNode(const std::string& name) {
  if (root_) throw EXMLException(xmltext::kOneTopLevelNode);
  root_ = CreateNode(name, TXMLNodeType::ntElement);
  return root_;
}

IXMLNodeRef TXMLDocument::CreateNode(const std::string& name, TXMLNodeType type) {
  IXMLNodeRef node(new TXMLNode(type, options_));
  node->SetNodeName(name);
  return node;
}

void TXMLDocument::ParseText(std::string_view text, int32_t start) {
  root_.Reset();
  SetOuterComments({}, {});
  version_ = "1.0";
  ParseDocument(text, this, start);
}

void TXMLDocument::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  file.SetPosition(0);
  LoadFromStream(&file);
  fileName_ = fileName;
}

void TXMLDocument::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  file.SetSize64(0);
  SaveToStream(&file);
}

std::string TXMLDocument::BuildDeclaration() const {
  std::string declaration = "<?xml version=\"";
  declaration += version_.empty() ? std::string("1.0") : version_;
  declaration += '"';
  if (!encoding_.empty()) {
    declaration += " encoding=\"";
    declaration += encoding_;
    declaration += '"';
  }
  declaration += "?>";
  return declaration;
}

IXMLDocumentRef NewXmlDocument(bool includeDeclaration, bool formatted) {
  IXMLDocumentRef document(new TXMLDocument);
  document->SetFormatted(formatted);
  document->SetIncludeDeclaration(includeDeclaration);
  return document;
}

IXMLDocumentRef OpenXmlDocumentFile(const std::string& fileName, bool includeDeclaration,
                                    bool formatted) {
  IXMLDocumentRef document = NewXmlDocument(includeDeclaration, formatted);
  document->SetOptions(document->GetOptions() | xoSkipComments);
  document->LoadFromFile(fileName);
  return document;
}

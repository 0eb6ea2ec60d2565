// The document: the root node, declaration properties, output switches and
// options; loading XML text from streams, files and strings with the encoding
// decided by the declaration or the encoding property.
#include "common/XMLCodeConversion.h"
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
  version_ = "1.0";
  ParseDocument(text, this, start);
}

namespace {

bool IsUtf8Name(std::string_view name) {
  return XMLSameName(name, "utf-8");
}

} // namespace

// The byte-order mark goes through the conversion with the rest: it becomes
// the first character of the converted text, and the parse starts after it,
// so error positions count it.
void TXMLDocument::LoadFromStream(TStream* stream) {
  ZORVA_ASSERT(stream != nullptr);
  std::string text = ReadStreamRest(*stream);
  const TXMLEncodingInfo info = DetectXMLEncoding(text);
  if (info.found && !info.encoding.empty()) encoding_ = info.encoding;
  if (!IsUtf8Name(encoding_)) {
    ParseText(text, info.byteOrderMark ? 2 : 1);
    return;
  }
  if (!info.byteOrderMark) {
    XMLUtf8ToAnsiInPlace(text, 0);
    ParseText(text, 1);
    return;
  }
  // U+FEFF has no GBK form: it converts to the default character, one byte,
  // written over the last byte of the mark.
  XMLUtf8ToAnsiInPlace(text, 3);
  if (text.size() == 3) {
    ParseText(std::string_view(), 1);
    return;
  }
  text[2] = '?';
  ParseText(std::string_view(text).substr(2), 2);
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

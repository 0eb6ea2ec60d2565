#include "common/XMLWriter.h"

#include "common/ZorvaStreamUtils.h"
#include "platform/Assert.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

namespace {

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool IsUtf8Name(const std::string& encoding) {
  static const char kUtf8[] = "utf-8";
  if (encoding.size() != sizeof kUtf8 - 1) return false;
  for (size_t i = 0; i < encoding.size(); ++i) {
    char c = encoding[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kUtf8[i]) return false;
  }
  return true;
}

} // namespace

std::string BuildXmlDeclaration(const std::string& version, const std::string& encoding) {
  std::string result = "<?xml version=\"" + (version.empty() ? std::string("1.0") : version) + "\"";
  if (!encoding.empty()) result += " encoding=\"" + encoding + "\"";
  result += "?>";
  return result;
}

TXMLBuilder::TXMLBuilder(TStream* stream) : stream_(stream) {
  ZORVA_ASSERT(stream != nullptr);
}

void TXMLBuilder::WriteDocument(IXMLDocument* document, bool rawText, bool forceAnsi) {
  Indent = document->GetFormatted();
  Utf8Output = !forceAnsi && IsUtf8Name(document->GetEncoding());
  LineBreak = document->GetFormatted() ? "\r\n" : "";
  RawText = rawText;
  if (document->GetIncludeDeclaration())
    WriteLine(BuildXmlDeclaration(document->GetVersion(), document->GetEncoding()));
  WriteNode(document->GetDocumentElement().get());
}

void TXMLBuilder::WriteNode(IXMLNode* node) {
  if (node == nullptr) return;
  WriteNodeAt(node, node->GetLevel());
}

// The level is handed down instead of asking each node for it, which would
// walk up to the root once per node.
void TXMLBuilder::WriteNodeAt(IXMLNode* node, int32_t level) {
  IXMLNodeListRef children = node->GetChildNodes();
  const int32_t count = children->GetCount();
  if (count != 0) {
    WriteIndent(level);
    WriteLine(BuildOpenTag(node, false));
    for (int32_t i = 0; i < count; ++i)
      WriteNodeAt(children->GetNode(i).get(), level + 1);
    WriteIndent(level);
    WriteLine(BuildCloseTag(node));
    return;
  }
  const std::string text = RawText ? node->GetText() : node->GetAsString();
  std::string line;
  switch (node->GetNodeType()) {
  case TXMLNodeType::ntText:
    line = text;
    break;
  case TXMLNodeType::ntCData:
    line = "<![CDATA[" + text + "]]>";
    break;
  case TXMLNodeType::ntComment:
    line = "<!--" + text + "-->";
    break;
  case TXMLNodeType::ntElement:
    if (text.empty()) {
      line = BuildOpenTag(node, true);
    } else {
      line = BuildOpenTag(node, false);
      line += text;
      line += BuildCloseTag(node);
    }
    break;
  }
  WriteIndent(level);
  WriteLine(line);
}

std::string TXMLBuilder::BuildOpenTag(IXMLNode* node, bool selfClosing) {
  ZORVA_ASSERT(node != nullptr);
  std::string tag = "<" + node->GetNodeName();
  IXMLNodeAttributesRef attributes = node->GetAttributes();
  if (attributes->GetCount() != 0) {
    tag += ' ';
    tag += attributes->GetXML();
  }
  tag += selfClosing ? "/>" : ">";
  return tag;
}

std::string TXMLBuilder::BuildCloseTag(IXMLNode* node) {
  ZORVA_ASSERT(node != nullptr);
  return "</" + node->GetNodeName() + ">";
}

void TXMLBuilder::WriteIndent(int32_t level) {
  if (Indent && level > 0) pending_.append(static_cast<size_t>(level) * 4, ' ');
}

void TXMLBuilder::WriteLine(const std::string& text) {
  // Most lines of real documents are ASCII, which UTF-8 leaves as it is.
  if (Utf8Output && !IsAscii(text))
    pending_ += platform::AnsiToUtf8(text);
  else
    pending_ += text;
  pending_ += LineBreak;
  // Clear before writing, so that a failed write does not send the
  // indentation again with the next line.
  std::string out;
  out.swap(pending_);
  stream_->WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
  out.clear();
  pending_.swap(out);
}

void SaveDocumentToStream(IXMLDocument* document, TStream* stream) {
  TXMLBuilder builder(stream);
  builder.WriteDocument(document, true, false);
}

std::string DocumentToString(IXMLDocument* document, bool rawText) {
  TBlockMemoryStream stream(4096);
  TXMLBuilder builder(&stream);
  builder.WriteDocument(document, rawText, true);
  std::string result(static_cast<size_t>(stream.GetSize()), '\0');
  stream.Seek(0, 0);
  stream.ReadBuffer(result.data(), static_cast<int64_t>(result.size()));
  return result;
}

void SaveNodeToStream(IXMLNode* node, TStream* stream) {
  TXMLBuilder builder(stream);
  builder.Indent = false;
  builder.Utf8Output = false;
  builder.LineBreak.clear();
  builder.RawText = true;
  builder.WriteNode(node);
}

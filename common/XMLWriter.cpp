#include "common/XMLWriter.h"

#include "common/XMLTreeWalk.h"
#include "common/ZorvaStreamUtils.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <string_view>

namespace {

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

} // namespace

TXMLBuilder::TXMLBuilder(TStream* stream) : stream_(stream) {
  ZORVA_ASSERT(stream != nullptr);
}

void TXMLBuilder::WriteDocument(IXMLDocument* document, bool rawText, bool forceAnsi) {
  auto* own = dynamic_cast<TXMLDocument*>(document);
  ZORVA_ASSERT(own != nullptr);
  Indent = own->GetFormatted();
  Utf8Output = !forceAnsi && XMLSameName(own->GetEncoding(), "utf-8");
  LineBreak = own->GetFormatted() ? "\r\n" : "";
  RawText = rawText;
  if (own->GetIncludeDeclaration()) WriteLine(own->BuildDeclaration());
  WriteNode(document->GetDocumentElement().get());
}

void TXMLBuilder::WriteNode(IXMLNode* node) {
  if (node == nullptr) return;
  TXMLNode* own = TXMLNode::FromIntf(node);
  ZORVA_ASSERT(own != nullptr);
  WriteTree(*own, node->GetLevel());
}

// The level is handed down instead of asking each node for it, which would
// walk up to the root once per node. Lines are built in place in pending_.
void TXMLBuilder::WriteTree(TXMLNode& root, int32_t level) {
  WalkXMLTree(
      root, level, false,
      [this](TXMLNode& node, int32_t nodeLevel, bool) {
        if (node.Children().Count() != 0) {
          WriteIndent(nodeLevel);
          const size_t start = pending_.size();
          AppendOpenTag(node, false);
          EndLine(start);
        } else {
          WriteLeaf(node, nodeLevel);
        }
      },
      [this](TXMLNode& node, int32_t nodeLevel, bool) {
        if (node.Children().Count() == 0) return;
        WriteIndent(nodeLevel);
        const size_t start = pending_.size();
        AppendCloseTag(node);
        EndLine(start);
      });
}

void TXMLBuilder::WriteLeaf(TXMLNode& node, int32_t level) {
  std::string decoded;
  if (!RawText) decoded = node.GetAsString();
  const std::string_view text = RawText ? node.Text() : std::string_view(decoded);
  WriteIndent(level);
  const size_t start = pending_.size();
  switch (node.Type()) {
  case TXMLNodeType::ntText:
    pending_ += text;
    break;
  case TXMLNodeType::ntCData:
    pending_ += "<![CDATA[";
    pending_ += text;
    pending_ += "]]>";
    break;
  case TXMLNodeType::ntComment:
    pending_ += "<!--";
    pending_ += text;
    pending_ += "-->";
    break;
  case TXMLNodeType::ntElement:
    AppendOpenTag(node, text.empty());
    if (!text.empty()) {
      pending_ += text;
      AppendCloseTag(node);
    }
    break;
  }
  EndLine(start);
}

void TXMLBuilder::AppendOpenTag(const TXMLNode& node, bool selfClosing) {
  pending_ += '<';
  pending_ += node.Name();
  if (!node.Attributes().Items().empty()) {
    pending_ += ' ';
    node.Attributes().AppendXML(pending_);
  }
  pending_ += selfClosing ? "/>" : ">";
}

void TXMLBuilder::AppendCloseTag(const TXMLNode& node) {
  pending_ += "</";
  pending_ += node.Name();
  pending_ += '>';
}

std::string TXMLBuilder::BuildOpenTag(IXMLNode* node, bool selfClosing) {
  ZORVA_ASSERT(node != nullptr);
  std::string tag(1, '<');
  tag += node->GetNodeName();
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
  std::string tag("</");
  tag += node->GetNodeName();
  tag += '>';
  return tag;
}

void TXMLBuilder::WriteIndent(int32_t level) {
  if (Indent && level > 0) pending_.append(static_cast<size_t>(level) * 4, ' ');
}

void TXMLBuilder::WriteLine(const std::string& text) {
  const size_t start = pending_.size();
  pending_ += text;
  EndLine(start);
}

void TXMLBuilder::EndLine(size_t lineStart) {
  // Most lines of real documents are ASCII, which UTF-8 leaves as it is.
  if (Utf8Output && !IsAscii(std::string_view(pending_).substr(lineStart))) {
    const std::string converted =
        platform::AnsiToUtf8(std::string_view(pending_).substr(lineStart));
    pending_.resize(lineStart);
    pending_ += converted;
  }
  pending_ += LineBreak;
  // Emptied before the write, so that a failed write does not send this
  // line's indentation again with the next one.
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

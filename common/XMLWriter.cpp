#include "common/XMLWriter.h"

#include "common/XMLCodeConversion.h"
#include "common/XMLTreeWalk.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

bool IsAscii(std::string_view text) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    any |= word;
  }
  for (; i < text.size(); ++i)
    any |= static_cast<uint8_t>(text[i]);
  return (any & 0x8080808080808080ULL) == 0;
}

} // namespace

TXMLBuilder::TXMLBuilder(TStream* stream) : stream_(stream), out_(&line_) {
  ZORVA_ASSERT(stream != nullptr);
}

TXMLBuilder::TXMLBuilder(std::string& text) : out_(&text) {}

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
// walk up to the root once per node. Lines are built in place in out_.
void TXMLBuilder::WriteTree(TXMLNode& root, int32_t level) {
  WalkXMLTree(
      root, level, false,
      [this](TXMLNode& node, int32_t nodeLevel, bool) {
        if (node.Children().Count() != 0) {
          WriteIndent(nodeLevel);
          const size_t start = out_->size();
          AppendOpenTag(node, false);
          EndLine(start);
        } else {
          WriteLeaf(node, nodeLevel);
        }
      },
      [this](TXMLNode& node, int32_t nodeLevel, bool) {
        if (node.Children().Count() == 0) return;
        WriteIndent(nodeLevel);
        const size_t start = out_->size();
        AppendCloseTag(node);
        EndLine(start);
      });
}

void TXMLBuilder::WriteLeaf(TXMLNode& node, int32_t level) {
  std::string decoded;
  if (!RawText) decoded = node.GetAsString();
  const std::string_view text = RawText ? node.Text() : std::string_view(decoded);
  WriteIndent(level);
  const size_t start = out_->size();
  switch (node.Type()) {
  case TXMLNodeType::ntText:
    *out_ += text;
    break;
  case TXMLNodeType::ntCData:
    *out_ += "<![CDATA[";
    *out_ += text;
    *out_ += "]]>";
    break;
  case TXMLNodeType::ntComment:
    *out_ += "<!--";
    *out_ += text;
    *out_ += "-->";
    break;
  case TXMLNodeType::ntElement:
    AppendOpenTag(node, text.empty());
    if (!text.empty()) {
      *out_ += text;
      AppendCloseTag(node);
    }
    break;
  }
  EndLine(start);
}

// The tag is measured first and written into room made once: with a piece
// appended at a time, every attribute cost four checks of the room.
void TXMLBuilder::AppendOpenTag(const TXMLNode& node, bool selfClosing) {
  const std::string_view name = node.Name();
  const auto& attributes = node.Attributes().Items();
  size_t size = name.size() + (selfClosing ? 3 : 2);
  for (const TXMLNodeAttribute* attribute : attributes)
    size += attribute->Name().size() + attribute->Value().size() + 4;
  std::string& out = *out_;
  const size_t at = out.size();
  out.resize(at + size);
  char* p = out.data() + at;
  const auto put = [&p](std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    p += text.size();
  };
  *p++ = '<';
  put(name);
  for (const TXMLNodeAttribute* attribute : attributes) {
    *p++ = ' ';
    put(attribute->Name());
    *p++ = '=';
    *p++ = '"';
    put(attribute->Value());
    *p++ = '"';
  }
  if (selfClosing) *p++ = '/';
  *p = '>';
}

void TXMLBuilder::AppendCloseTag(const TXMLNode& node) {
  *out_ += "</";
  *out_ += node.Name();
  *out_ += '>';
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
  if (Indent && level > 0) out_->append(static_cast<size_t>(level) * 4, ' ');
}

void TXMLBuilder::WriteLine(const std::string& text) {
  const size_t start = out_->size();
  *out_ += text;
  EndLine(start);
}

void TXMLBuilder::EndLine(size_t lineStart) {
  std::string& out = *out_;
  // Into a stream every line goes through the conversion, which copies
  // ASCII at eight bytes a step: looking for other bytes first would cost
  // as much again for the many lines that hold some. A stream's line buffer
  // holds nothing but this line and its indentation, which is ASCII and
  // converts to itself: the whole buffer is converted, and the result goes
  // out from where it was made.
  if (Utf8Output && (stream_ || !IsAscii(std::string_view(out).substr(lineStart)))) {
    const size_t from = stream_ ? 0 : lineStart;
    const std::string_view line = std::string_view(out).substr(from);
    converted_.EraseFront(converted_.size());
    converted_.Grow(XMLAnsiToUtf8Into(line, converted_.Room(XMLAnsiToUtf8Room(line.size()))));
    converted_.Append(LineBreak);
    out.resize(from);
    if (!stream_) {
      out += converted_.view();
      return;
    }
    stream_->WriteBuffer(converted_.data(), static_cast<int64_t>(converted_.size()));
    return;
  }
  out += LineBreak;
  if (!stream_) return;
  // Emptied also when the write fails, so that this line's indentation is
  // not sent again with the next one.
  struct TEmptyOnExit {
    std::string& line;
    ~TEmptyOnExit() { line.clear(); }
  } empty{out};
  stream_->WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void SaveDocumentToStream(IXMLDocument* document, TStream* stream) {
  TXMLBuilder builder(stream);
  builder.WriteDocument(document, true, false);
}

// The lines go straight into the result: nothing but the writer sees them,
// so they need not pass through a stream on their way.
std::string DocumentToString(IXMLDocument* document, bool rawText) {
  std::string result;
  TXMLBuilder builder(result);
  builder.WriteDocument(document, rawText, true);
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

#include "common/XMLWriter.h"

#include "common/XMLCodeConversion.h"
#include "common/XMLTreeWalk.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

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
  if (own->GetIncludeDeclaration()) {
    const size_t start = pending_.size();
    pending_ += own->BuildDeclaration();
    EndLine(start);
  }
  const auto writeComments = [this](const std::vector<std::string>& comments) {
    for (const std::string& comment : comments) {
      const size_t start = pending_.size();
      pending_ += "<!--";
      pending_ += comment;
      pending_ += "-->";
      EndLine(start);
    }
  };
  writeComments(own->CommentsBefore());
  WriteNode(document->GetDocumentElement().get());
  writeComments(own->CommentsAfter());
  Flush();
}

void TXMLBuilder::WriteNode(IXMLNode* node) {
  if (node != nullptr) {
    TXMLNode* own = TXMLNode::FromIntf(node);
    ZORVA_ASSERT(own != nullptr);
    WriteTree(*own, node->GetLevel());
  }
  Flush();
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

// The tag is measured first and written into room made once: with a piece
// appended at a time, every attribute cost four checks of the room.
void TXMLBuilder::AppendOpenTag(const TXMLNode& node, bool selfClosing) {
  const std::string_view name = node.Name();
  const auto& attributes = node.Attributes().Items();
  size_t size = name.size() + (selfClosing ? 3 : 2);
  for (const TXMLNodeAttribute* attribute : attributes)
    size += attribute->Name().size() + attribute->Value().size() + 4;
  std::string& out = pending_;
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
    const char quote = XMLAttributeQuote(attribute->Value());
    *p++ = quote;
    put(attribute->Value());
    *p++ = quote;
  }
  if (selfClosing) *p++ = '/';
  *p = '>';
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
  Flush();
}

void TXMLBuilder::EndLine(size_t lineStart) {
  std::string& out = pending_;
  // Most lines of real documents are ASCII, which UTF-8 leaves as it is.
  if (Utf8Output && !IsAscii(std::string_view(out).substr(lineStart))) {
    const std::string_view line = std::string_view(out).substr(lineStart);
    converted_.Clear();
    converted_.Grow(XMLAnsiToUtf8Into(line, converted_.Room(XMLAnsiToUtf8Room(line.size()))));
    out.resize(lineStart);
    out += converted_.view();
  }
  out += LineBreak;
  if (out.size() >= kStreamPiece) Flush();
}

void TXMLBuilder::Flush() {
  if (pending_.empty()) return;
  struct TEmptyOnExit {
    std::string& lines;
    ~TEmptyOnExit() { lines.clear(); }
  } empty{pending_};
  stream_->WriteBuffer(pending_.data(), static_cast<int64_t>(pending_.size()));
}

void SaveDocumentToStream(IXMLDocument* document, TStream* stream) {
  TXMLBuilder builder(stream);
  builder.WriteDocument(document, true, false);
}

namespace {

// Keeps the pieces the writer sends, to be joined once their total is known.
// Built up by doubling instead, the text of a large document would be copied
// about once more, and the memory of the half-size text, which the
// allocator hands out fresh (it maps blocks this large), would be touched
// for the first time only to be thrown away.
class TPieceSink final : public TStream {
public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    pieces_.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(count));
    size_ += static_cast<size_t>(count);
    return count;
  }
  int64_t Seek64(int64_t, TSeekOrigin) override { return static_cast<int64_t>(size_); }

  std::string Join() {
    std::string text;
    text.reserve(size_);
    for (const std::string& piece : pieces_)
      text += piece;
    return text;
  }

private:
  std::vector<std::string> pieces_;
  size_t size_ = 0;
};

} // namespace

std::string DocumentToString(IXMLDocument* document, bool rawText) {
  TPieceSink sink;
  TXMLBuilder builder(&sink);
  builder.WriteDocument(document, rawText, true);
  return sink.Join();
}

void SaveNodeToStream(IXMLNode* node, TStream* stream) {
  TXMLBuilder builder(stream);
  builder.Indent = false;
  builder.Utf8Output = false;
  builder.LineBreak.clear();
  builder.RawText = true;
  builder.WriteNode(node);
}

// Loading a document from a stream.
//
// A UTF-8 document is converted to ANSI while it is parsed: the stream is
// read in pieces of 64 KiB, each piece converted and handed to the parser,
// which keeps only the text it has not finished with. Neither the UTF-8 bytes
// nor the converted text of the whole document are ever held at once, and
// the parser reads each converted piece while it is still in the cache.
//
// The result is exactly that of converting the whole text first and parsing
// it then. The traps:
//  - A character may be split between two pieces; the converter completes
//    it with the next one.
//  - Text that is not valid UTF-8 converts to nothing at all, so a document
//    with one bad byte anywhere loads as empty, without an error, even when
//    the part before that byte was parsed or had an error. A parse error
//    therefore counts only after the rest of the stream has been checked.
//  - The encoding detection looks for encoding=" in the whole text, not only
//    in the declaration; when the first piece does not settle it, the whole
//    stream is read first, as before.
//  - Error positions count bytes of the converted text, the converted
//    byte-order mark included; the parser counts from the start of all the
//    text it was fed.
//  - Every path reads the stream to its end.
//  - A stream whose Read raises once the parse has begun leaves the document
//    without its old tree, as a parse error does; reading all of it first
//    left the document untouched. No stream of this system raises there.
#include "common/XMLCodeConversion.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/Assert.h"
#include "platform/Stream.h"

#include <algorithm>
#include <memory>
#include <typeinfo>

namespace {

constexpr size_t kPiece = 64 * 1024;

// What is left of a stream, from its position to the size it had at the
// start, read a piece at a time, as ReadStreamRest reads it at once.
class TStreamPieces {
public:
  explicit TStreamPieces(TStream& stream) : stream_(stream) {
    left_ = stream.GetSize() - stream.GetPosition();
    ended_ = left_ <= 0;
  }

  // The next piece, of at most kPiece bytes, valid until the next call;
  // empty at the end.
  std::string_view Next() {
    if (ended_) return {};
    const auto count = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(kPiece), left_));
    const char* bytes;
    int32_t got;
    if (typeid(stream_) == typeid(TMemoryStream)) {
      // A plain memory stream's bytes are read where they lie, with the
      // result of its Read: the copy would cost a quarter of converting them.
      auto& memory = static_cast<TMemoryStream&>(stream_);
      const int64_t position = memory.GetPosition();
      const int64_t size = memory.GetSize();
      got = position < 0 || position >= size
                ? 0
                : static_cast<int32_t>(std::min<int64_t>(count, size - position));
      bytes = memory.Memory() + position;
      memory.SetPosition(position + got);
    } else {
      if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kPiece);
      got = stream_.Read(buffer_.get(), count);
      bytes = buffer_.get();
    }
    if (got <= 0) {
      ended_ = true;
      return {};
    }
    left_ -= got;
    if (left_ <= 0) ended_ = true;
    return {bytes, static_cast<size_t>(got)};
  }
  void ReadAll(std::string& into) {
    if (!ended_) into.reserve(into.size() + static_cast<size_t>(left_));
    for (std::string_view piece = Next(); !piece.empty(); piece = Next())
      into += piece;
  }
  bool AtEnd() const { return ended_; }

private:
  TStream& stream_;
  int64_t left_ = 0;
  bool ended_ = false;
  std::unique_ptr<char[]> buffer_;
};

// Thrown through the parser when the text turns out not to be UTF-8.
struct TNotUtf8 {};

// The stream's UTF-8 text converted to ANSI for the parser, piece by piece.
class TUtf8Feed final : public TXMLTextFeed {
public:
  // `head` holds the bytes already read from `pieces`. A byte-order mark
  // at its start converts to '?', as U+FEFF does, which has no GBK form.
  TUtf8Feed(TStreamPieces& pieces, std::string head, bool byteOrderMark)
      : pieces_(pieces), head_(std::move(head)), mark_(byteOrderMark) {
    if (mark_) headDone_ = 3;
  }

  // Raises TNotUtf8 when the text is not valid UTF-8.
  bool Next(TXMLTextBuffer& text) override {
    if (mark_) {
      mark_ = false;
      text.Append("?");
      return true;
    }
    const size_t had = text.size();
    while (text.size() == had) {
      if (!ConvertNext(text)) return false;
    }
    return true;
  }

  // Reads and converts the rest of the text without keeping it; false when
  // the text is not valid UTF-8.
  bool RestIsValid() {
    try {
      TXMLTextBuffer scratch;
      do
        scratch.Clear();
      while (ConvertNext(scratch));
    } catch (const TNotUtf8&) {
      SkipRest();
      return false;
    }
    return true;
  }

  // After TNotUtf8: the stream is still read to its end.
  void SkipRest() {
    while (!pieces_.Next().empty()) {
    }
  }

private:
  // Converts the next piece into `text`; false at the end of the text.
  bool ConvertNext(TXMLTextBuffer& text) {
    std::string_view piece;
    if (headDone_ < head_.size()) {
      piece = std::string_view(head_).substr(headDone_, kPiece);
      headDone_ += piece.size();
    } else {
      if (!head_.empty()) std::string().swap(head_);
      piece = pieces_.Next();
      if (piece.empty()) {
        if (!converter_.Finish()) throw TNotUtf8();
        return false;
      }
    }
    if (!converter_.Convert(piece, text)) throw TNotUtf8();
    return true;
  }

  TStreamPieces& pieces_;
  std::string head_;
  size_t headDone_ = 0;
  bool mark_;
  TXMLUtf8Converter converter_;
};

bool IsUtf8Name(std::string_view name) {
  return XMLSameName(name, "utf-8");
}

} // namespace

void TXMLDocument::LoadFromStream(TStream* stream) {
  ZORVA_ASSERT(stream != nullptr);
  TStreamPieces pieces(*stream);
  // The detection runs again each time the bytes at hand have doubled, not
  // for every piece: a stream may hand out a few bytes at a time.
  std::string head;
  std::optional<TXMLEncodingInfo> info;
  for (size_t checkAt = 0;; head += pieces.Next()) {
    if (head.size() < checkAt && !pieces.AtEnd()) continue;
    info = DetectXMLEncodingPrefix(head, pieces.AtEnd());
    if (info || head.size() >= kPiece) break;
    checkAt = std::max<size_t>(64, head.size() * 2);
  }
  if (!info) {
    pieces.ReadAll(head);
    info = DetectXMLEncoding(head);
  }
  if (info->found && !info->encoding.empty()) encoding_ = info->encoding;
  const int32_t start = info->byteOrderMark ? 2 : 1;
  if (!IsUtf8Name(encoding_)) {
    pieces.ReadAll(head);
    ParseText(head, start);
    return;
  }
  if (!XMLUtf8ConversionIsFast()) {
    pieces.ReadAll(head);
    std::string text = XMLUtf8ToAnsi(std::string_view(head).substr(info->byteOrderMark ? 3 : 0));
    if (info->byteOrderMark && !text.empty()) text.insert(0, 1, '?');
    ParseText(text, text.empty() ? 1 : start);
    return;
  }
  TUtf8Feed feed(pieces, std::move(head), info->byteOrderMark);
  // What ParseText does before it parses.
  root_.Reset();
  SetOuterComments({}, {});
  version_ = "1.0";
  try {
    ParseDocument(feed, this, start);
  } catch (const TNotUtf8&) {
    feed.SkipRest();
    ParseText(std::string_view(), 1);
  } catch (...) {
    if (feed.RestIsValid()) throw;
    ParseText(std::string_view(), 1);
  }
}

#include "common/XMLCodeConversion.h"

#include "common/XMLTextBuffer.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kFirstNonAscii = 0x80;
constexpr uint32_t kPlaneEnd = 0x10000;

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

bool IsSurrogate(uint32_t cp) {
  return cp >= 0xD800 && cp <= 0xDFFF;
}

struct TGbkForm {
  char bytes[2];
};

// The GBK form of every character of the basic plane: one byte (below 0x100)
// or two (lead byte high). Built by converting the characters one per line:
// no GBK byte is a line feed, so the lines split the result again. The
// conversion goes in small chunks because the platform's cost for each
// character without a GBK form grows with the text still ahead of it: in one
// piece the table took seconds to build, in chunks of 256 characters 40 ms,
// in chunks of 32 about 8 (smaller ones pay more for opening conversions).
class TGbkTable {
public:
  TGbkTable() {
    constexpr uint32_t kChunk = 32;
    std::string chunk;
    for (uint32_t first = kFirstNonAscii; first < kPlaneEnd; first += kChunk)
      if (!ConvertChunk(first, std::min(first + kChunk, kPlaneEnd), chunk)) return;
    complete_ = true;
  }

  // False when the platform conversion did not give one form per character;
  // the callers then leave the work to it.
  bool Complete() const { return complete_; }
  // The GBK bytes of a character in the order they are written; the second
  // is 0 for a form of one byte, the first is 0 for a surrogate (no GBK
  // form is or begins with a NUL byte).
  const TGbkForm& Form(uint32_t cp) const {
    return cp < kThreeByteFirst ? low_[cp] : threeByte_[ThreeByteIndex(cp)];
  }
  // The form of a character of three UTF-8 bytes by the index below, or all
  // zero below U+0800, where three bytes are an overlong form and no
  // character: one look-up then judges both.
  const TGbkForm& ThreeByteForm(uint32_t index) const { return threeByte_[index]; }

  // The index of a character of three UTF-8 bytes E0|a, 80|b, 80|c is
  // a << 14 | c << 8 | b: the bits as they lie in the bytes, fewer steps to
  // gather from a loaded word than the code point's a << 12 | b << 6 | c.
  // The table has holes (a quarter is used) where the code point has none.
  static uint32_t ThreeByteIndex(uint32_t cp) {
    return (cp >> 12) << 14 | (cp & 0x3F) << 8 | (cp >> 6 & 0x3F);
  }

private:
  // Fills the forms of the characters first..end-1; false when the platform
  // did not give exactly one form per character.
  bool ConvertChunk(uint32_t first, uint32_t end, std::string& chunk) {
    chunk.clear();
    for (uint32_t cp = first; cp < end; ++cp) {
      if (IsSurrogate(cp)) continue;
      AppendUtf8(chunk, cp);
      chunk += '\n';
    }
    if (chunk.empty()) return true;
    const std::string gbk = platform::Utf8ToAnsi(chunk);
    size_t pos = 0;
    for (uint32_t cp = first; cp < end; ++cp) {
      if (IsSurrogate(cp)) continue;
      const size_t lineEnd = gbk.find('\n', pos);
      if (lineEnd == std::string::npos) return false;
      const size_t length = lineEnd - pos;
      if (length < 1 || length > 2 || gbk[pos] == '\0' || (length == 2 && gbk[pos + 1] == '\0'))
        return false;
      TGbkForm& form = cp < kThreeByteFirst ? low_[cp] : threeByte_[ThreeByteIndex(cp)];
      form.bytes[0] = gbk[pos];
      form.bytes[1] = length == 2 ? gbk[pos + 1] : '\0';
      pos = lineEnd + 1;
    }
    return pos == gbk.size();
  }

  static constexpr uint32_t kThreeByteFirst = 0x800;
  std::array<TGbkForm, kThreeByteFirst> low_{};
  std::array<TGbkForm, 16u << 14> threeByte_{};
  bool complete_ = false;
};

const TGbkTable& Table() {
  static const std::unique_ptr<TGbkTable> table = std::make_unique<TGbkTable>();
  return *table;
}

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

constexpr bool IsLittleEndian() {
  return std::endian::native == std::endian::little;
}

// Writes the form of one character and returns its length.
size_t PutForm(const TGbkForm& form, char* out) {
  std::memcpy(out, form.bytes, 2);
  return form.bytes[1] == '\0' ? 1 : 2;
}

// The length of the UTF-8 sequence that `lead` begins, and the bits it
// contributes; 0 for a byte that begins none.
size_t SequenceLength(uint8_t lead, uint32_t& cp) {
  if (lead >= 0xC2 && lead <= 0xDF) return cp = lead & 0x1F, 2;
  if (lead >= 0xE0 && lead <= 0xEF) return cp = lead & 0x0F, 3;
  if (lead >= 0xF0 && lead <= 0xF4) return cp = lead & 0x07, 4;
  return 0;
}

struct TConverted {
  bool valid;
  size_t read;
  size_t written;
};

// Converts the UTF-8 bytes in..in+n to GBK at `out`, which may be `in`
// itself: the GBK form of a character is never longer than its UTF-8 form,
// so the write never passes the read. Bytes past the result may be written,
// but none past out+n, and in place none that is still to be read. Unless
// `final`, an incomplete character at the end is left unread for the next
// piece of text to complete.
TConverted ConvertSpan(const TGbkTable& table, const char* in, size_t n, char* out, bool final) {
  const bool inPlace = out == in;
  size_t i = 0;
  size_t o = 0;
  while (i < n) {
    // ASCII goes through a word at a time. Until the first character that
    // shrinks, source and target coincide and nothing is copied.
    uint64_t word = 0;
    bool ascii = true;
    if (out + o == in + i) {
      while (i + 8 <= n) {
        std::memcpy(&word, in + i, 8);
        if ((ascii = (word & kHighBits) == 0) == false) break;
        i += 8;
      }
      o = i;
    } else {
      while (i + 16 <= n) {
        uint64_t second;
        std::memcpy(&word, in + i, 8);
        std::memcpy(&second, in + i + 8, 8);
        if (((word | second) & kHighBits) != 0) break;
        std::memcpy(out + o, &word, 8);
        std::memcpy(out + o + 8, &second, 8);
        o += 16;
        i += 16;
      }
      while (i + 8 <= n) {
        std::memcpy(&word, in + i, 8);
        if ((ascii = (word & kHighBits) == 0) == false) break;
        std::memmove(out + o, in + i, 8);
        o += 8;
        i += 8;
      }
    }
    if (i >= n) break;
    // The ASCII bytes before the first other one of the word go at once.
    if (!ascii && IsLittleEndian()) {
      const auto k = static_cast<size_t>(std::countr_zero(word & kHighBits) / 8);
      if (out + o != in + i) {
        if (inPlace)
          std::memmove(out + o, in + i, k);
        else
          std::memcpy(out + o, &word, 8);
      }
      o += k;
      i += k;
    }
    const auto lead = static_cast<uint8_t>(in[i]);
    if (lead < 0x80) {
      out[o++] = static_cast<char>(lead);
      ++i;
      continue;
    }
    // Chinese text is runs of three-byte characters with forms of two bytes:
    // they take a short way, two at a time while they last, their bits taken
    // from one load of eight bytes. The length of the result is known before
    // the table is read, so the place of the next write does not wait for
    // that read. All bytes of a pair are read before its forms are written.
    // Anything unusual (a bad sequence or a form of one byte included) leaves
    // the run for the full decoding below.
    const size_t runStart = i;
    for (;;) {
      if (IsLittleEndian() && i + 8 <= n) {
        std::memcpy(&word, in + i, 8);
        if ((word & 0xC0C0F0C0C0F0ULL) == 0x8080E08080E0ULL) {
          const auto index0 = static_cast<uint32_t>((word & 0xF) << 14 | (word >> 8 & 0x3F3F));
          const auto index1 =
              static_cast<uint32_t>((word >> 24 & 0xF) << 14 | (word >> 32 & 0x3F3F));
          uint16_t f0, f1; // in memory order: a second byte makes them above 0xFF
          std::memcpy(&f0, table.ThreeByteForm(index0).bytes, 2);
          std::memcpy(&f1, table.ThreeByteForm(index1).bytes, 2);
          if (f0 > 0xFF && f1 > 0xFF) {
            const uint32_t both = f0 | static_cast<uint32_t>(f1) << 16;
            std::memcpy(out + o, &both, 4);
            o += 4;
            i += 6;
            continue;
          }
        }
      }
      if (i + 3 > n) break;
      const auto b0 = static_cast<uint8_t>(in[i]);
      const auto b1 = static_cast<uint8_t>(in[i + 1]);
      const auto b2 = static_cast<uint8_t>(in[i + 2]);
      if ((b0 & 0xF0) != 0xE0 || (b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) break;
      const TGbkForm& form =
          table.ThreeByteForm((b0 & 0x0Fu) << 14 | (b2 & 0x3Fu) << 8 | (b1 & 0x3Fu));
      if (form.bytes[1] == '\0') break;
      std::memcpy(out + o, form.bytes, 2);
      o += 2;
      i += 3;
    }
    if (i != runStart) continue;
    uint32_t cp = 0;
    const size_t length = SequenceLength(lead, cp);
    if (length == 0) return {false, i, o};
    // A character cut off by the end of a piece waits for the next, as long
    // as what there is of it can still begin a valid one.
    const size_t have = std::min(length, n - i);
    for (size_t k = 1; k < have; ++k) {
      const auto next = static_cast<uint8_t>(in[i + k]);
      if ((next & 0xC0) != 0x80) return {false, i, o};
      cp = cp << 6 | (next & 0x3F);
    }
    if (have < length) {
      if (final) return {false, i, o};
      break;
    }
    if ((length == 3 && cp < 0x800) || IsSurrogate(cp)) return {false, i, o};
    if (length == 4) {
      if (cp < 0x10000 || cp > 0x10FFFF) return {false, i, o};
      // Beyond the basic plane the table has nothing to say: ask the platform
      // for this one character (GBK has no shift states, so characters convert
      // alone as they do together).
      const std::string form = platform::Utf8ToAnsi(std::string_view(in + i, 4));
      if (form.empty() || form.size() > 4) return {false, i, o};
      std::memcpy(out + o, form.data(), form.size());
      o += form.size();
      i += 4;
      continue;
    }
    o += PutForm(table.Form(cp), out + o);
    i += length;
  }
  return {true, i, o};
}

} // namespace

bool XMLUtf8ConversionIsFast() {
  return Table().Complete();
}

void XMLUtf8ToAnsiInPlace(std::string& text, size_t from) {
  const TGbkTable& table = Table();
  if (!table.Complete()) {
    std::string converted = platform::Utf8ToAnsi(std::string_view(text).substr(from));
    text.resize(from);
    text += converted;
    return;
  }
  char* const base = text.data() + from;
  const TConverted done = ConvertSpan(table, base, text.size() - from, base, true);
  text.resize(from + (done.valid ? done.written : 0));
}

std::string XMLUtf8ToAnsi(std::string_view utf8) {
  std::string text(utf8);
  XMLUtf8ToAnsiInPlace(text, 0);
  return text;
}

size_t TXMLUtf8Converter::ConvertInto(std::string_view piece, char* out) {
  const TGbkTable& table = Table();
  if (!valid_) return std::string_view::npos;
  size_t written = 0;
  // First the character that the last piece left unfinished.
  while (pendingLength_ != 0 && !piece.empty()) {
    pending_[pendingLength_++] = piece.front();
    piece.remove_prefix(1);
    const TConverted done = ConvertSpan(table, pending_, pendingLength_, out, false);
    if (!done.valid) {
      valid_ = false;
      return std::string_view::npos;
    }
    if (done.read == 0) continue;
    written = done.written;
    pendingLength_ = 0;
  }
  if (piece.empty()) return written;
  const TConverted done = ConvertSpan(table, piece.data(), piece.size(), out + written, false);
  if (!done.valid) {
    valid_ = false;
    return std::string_view::npos;
  }
  pendingLength_ = piece.size() - done.read;
  std::memcpy(pending_, piece.data() + done.read, pendingLength_);
  return written + done.written;
}

// The converted text is never longer than the piece with the character
// left from the last one (at most three bytes), and the conversion may
// write two bytes past its result.
bool TXMLUtf8Converter::Convert(std::string_view piece, std::string& out) {
  const size_t start = out.size();
  out.resize(start + piece.size() + 5);
  const size_t written = ConvertInto(piece, out.data() + start);
  out.resize(start + (written == std::string_view::npos ? 0 : written));
  return written != std::string_view::npos;
}

bool TXMLUtf8Converter::Convert(std::string_view piece, TXMLTextBuffer& out) {
  const size_t written = ConvertInto(piece, out.Room(piece.size() + 5));
  if (written == std::string_view::npos) return false;
  out.Grow(written);
  return true;
}

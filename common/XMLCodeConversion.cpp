#include "common/XMLCodeConversion.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <array>
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
  uint16_t Form(uint32_t cp) const { return table_[cp]; }

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
      if (length == 1)
        table_[cp] = static_cast<uint8_t>(gbk[pos]);
      else if (length == 2)
        table_[cp] = static_cast<uint16_t>(static_cast<uint8_t>(gbk[pos]) << 8 |
                                           static_cast<uint8_t>(gbk[pos + 1]));
      else
        return false;
      pos = lineEnd + 1;
    }
    return pos == gbk.size();
  }

  std::array<uint16_t, kPlaneEnd> table_{};
  bool complete_ = false;
};

const TGbkTable& Table() {
  static const std::unique_ptr<TGbkTable> table = std::make_unique<TGbkTable>();
  return *table;
}

bool EightAscii(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

} // namespace

void XMLUtf8ToAnsiInPlace(std::string& text, size_t from) {
  const TGbkTable& table = Table();
  const auto fallBack = [&] {
    std::string converted = platform::Utf8ToAnsi(std::string_view(text).substr(from));
    text.resize(from);
    text += converted;
  };
  if (!table.Complete()) return fallBack();
  char* const base = text.data();
  const size_t n = text.size();
  const auto invalid = [&] { text.resize(from); };
  // The write position never passes the read position.
  size_t out = from;
  size_t i = from;
  while (i < n) {
    // Until the first character that shrinks, source and target coincide.
    if (out == i) {
      while (i + 8 <= n && EightAscii(base + i))
        i += 8;
      out = i;
    } else {
      while (i + 8 <= n && EightAscii(base + i)) {
        std::memmove(base + out, base + i, 8);
        out += 8;
        i += 8;
      }
    }
    if (i >= n) break;
    const auto lead = static_cast<uint8_t>(base[i]);
    if (lead < 0x80) {
      base[out++] = static_cast<char>(lead);
      ++i;
      continue;
    }
    // Chinese text is runs of three-byte characters: they take a short way.
    // Anything unusual (a bad sequence included) leaves the run and is judged
    // by the full decoding below.
    const size_t runStart = i;
    while (i + 3 <= n) {
      const auto b0 = static_cast<uint8_t>(base[i]);
      const auto b1 = static_cast<uint8_t>(base[i + 1]);
      const auto b2 = static_cast<uint8_t>(base[i + 2]);
      if ((b0 & 0xF0) != 0xE0 || (b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) break;
      const uint32_t cp = (b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu);
      if (cp < 0x800 || IsSurrogate(cp)) break;
      const uint16_t form = table.Form(cp);
      if (form > 0xFF) base[out++] = static_cast<char>(form >> 8);
      base[out++] = static_cast<char>(form & 0xFF);
      i += 3;
    }
    if (i != runStart) continue;
    size_t length;
    uint32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4, cp = lead & 0x07;
    else
      return invalid();
    if (n - i < length) return invalid();
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(base[i + k]);
      if ((next & 0xC0) != 0x80) return invalid();
      cp = cp << 6 | (next & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || IsSurrogate(cp)) return invalid();
    if (length == 4) {
      if (cp < 0x10000 || cp > 0x10FFFF) return invalid();
      // Beyond the basic plane the table has nothing to say: ask the platform
      // for this one character (GBK has no shift states, so characters convert
      // alone as they do together).
      const std::string form = platform::Utf8ToAnsi(std::string_view(base + i, 4));
      if (form.empty() || form.size() > 4) return invalid();
      std::memcpy(base + out, form.data(), form.size());
      out += form.size();
      i += 4;
      continue;
    }
    const uint16_t form = table.Form(cp);
    if (form > 0xFF) base[out++] = static_cast<char>(form >> 8);
    base[out++] = static_cast<char>(form & 0xFF);
    i += length;
  }
  text.resize(out);
}

std::string XMLUtf8ToAnsi(std::string_view utf8) {
  std::string text(utf8);
  XMLUtf8ToAnsiInPlace(text, 0);
  return text;
}

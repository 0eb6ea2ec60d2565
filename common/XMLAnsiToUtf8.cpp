// ANSI (GBK) to UTF-8 for the writer. A document saved as UTF-8 is converted
// line by line; through the platform conversion each line would open a
// conversion of its own, which costs more than writing the line.
//
// The table holds, for every pair of a byte 0x81..0xFE and a following byte
// 0x40..0xFE, the UTF-8 form of that GBK character or nothing when the pair
// is not one, and for every single byte from 0x80 on its form when it is a
// character by itself. The platform converts a byte that begins no character
// to '?' and goes on with the next byte, which is what the walk below does
// when neither the pair nor the byte alone is in the table.
#include "common/XMLCodeConversion.h"

#include "platform/CodePage.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kLastTrail = 0xFE;

// A UTF-8 form of up to four bytes with its length; length 0 means none.
// A UTF-8 form of up to three bytes (every GBK character is in the basic
// plane) with its length, in four bytes that are copied as one; length 0
// means none.
struct TUtf8Form {
  char bytes[3] = {};
  uint8_t length = 0;
};

class TUtf8Table {
public:
  TUtf8Table() {
    std::string chunk;
    // One conversion per lead byte: its pairs, one per line. No byte of a
    // pair is a line feed, and a pair that is no character still ends at
    // the line feed, which is never part of a character.
    for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
      chunk.clear();
      for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
        chunk += static_cast<char>(lead);
        chunk += static_cast<char>(trail);
        chunk += '\n';
      }
      if (!Fill(chunk, &pairs_[(lead - 0x80) * 256 + kFirstTrail], kLastTrail - kFirstTrail + 1))
        return;
    }
    chunk.clear();
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
      chunk += static_cast<char>(byte);
      chunk += '\n';
    }
    if (!Fill(chunk, singles_.data(), 0x80)) return;
    complete_ = true;
  }

  // False when the platform's results did not split into one line per
  // entry; the caller then leaves the work to the platform.
  bool Complete() const { return complete_; }
  const TUtf8Form& Pair(uint8_t lead, uint8_t trail) const {
    return pairs_[(lead - 0x80u) * 256 + trail];
  }
  const TUtf8Form& Single(uint8_t byte) const { return singles_[byte - 0x80u]; }

private:
  // Stores the form of each of `count` lines of the converted chunk; a line
  // that begins with '?' is no character (no GBK character converts to '?').
  static bool Fill(const std::string& chunk, TUtf8Form* forms, unsigned count) {
    const std::string utf8 = platform::AnsiToUtf8(chunk);
    size_t pos = 0;
    for (unsigned i = 0; i < count; ++i) {
      const size_t end = utf8.find('\n', pos);
      if (end == std::string::npos) return false;
      const size_t length = end - pos;
      if (utf8[pos] != '?') {
        if (length < 2 || length > 3) return false;
        forms[i].length = static_cast<uint8_t>(length);
        std::memcpy(forms[i].bytes, utf8.data() + pos, length);
      }
      pos = end + 1;
    }
    return pos == utf8.size();
  }

  // Rows for the bytes 0x80..0xFF, of 256 entries each; only the rows of
  // lead bytes hold anything.
  std::array<TUtf8Form, 128 * 256> pairs_{};
  std::array<TUtf8Form, 128> singles_{};
  bool complete_ = false;
};

const TUtf8Table& Table() {
  static const std::unique_ptr<TUtf8Table> table = std::make_unique<TUtf8Table>();
  return *table;
}

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

} // namespace

size_t XMLAnsiToUtf8Into(std::string_view ansi, char* out) {
  const TUtf8Table& table = Table();
  if (!table.Complete()) {
    const std::string utf8 = platform::AnsiToUtf8(ansi);
    std::memcpy(out, utf8.data(), utf8.size());
    return utf8.size();
  }
  char* to = out;
  const char* from = ansi.data();
  const char* const end = from + ansi.size();
  while (from < end) {
    uint64_t word = 0;
    while (end - from >= 8) {
      std::memcpy(&word, from, 8);
      if ((word & kHighBits) != 0) break;
      std::memcpy(to, &word, 8);
      to += 8;
      from += 8;
    }
    if (from == end) break;
    // The ASCII bytes before the first other one of the word go at once.
    if ((word & kHighBits) != 0 && std::endian::native == std::endian::little) {
      const auto k = static_cast<size_t>(std::countr_zero(word & kHighBits) / 8);
      std::memcpy(to, &word, 8);
      to += k;
      from += k;
    }
    const auto byte = static_cast<uint8_t>(*from);
    if (byte < 0x80) {
      *to++ = static_cast<char>(byte);
      ++from;
      continue;
    }
    if (end - from >= 2) {
      const TUtf8Form* pair = &table.Pair(byte, static_cast<uint8_t>(from[1]));
      // Chinese text is runs of characters of three UTF-8 bytes: while they
      // last, the place of the next write is known before the table is read.
      if (pair->length == 3) {
        do {
          std::memcpy(to, pair, 4);
          to += 3;
          from += 2;
          if (end - from < 2 || static_cast<uint8_t>(*from) < 0x80) break;
          pair = &table.Pair(static_cast<uint8_t>(from[0]), static_cast<uint8_t>(from[1]));
        } while (pair->length == 3);
        continue;
      }
      if (pair->length != 0) {
        std::memcpy(to, pair, 4);
        to += pair->length;
        from += 2;
        continue;
      }
    }
    const TUtf8Form& single = table.Single(byte);
    if (single.length != 0) {
      std::memcpy(to, single.bytes, single.length);
      to += single.length;
    } else {
      *to++ = '?';
    }
    ++from;
  }
  return static_cast<size_t>(to - out);
}

void XMLAnsiToUtf8Append(std::string_view ansi, std::string& out) {
  const size_t start = out.size();
  out.resize(start + XMLAnsiToUtf8Room(ansi.size()));
  out.resize(start + XMLAnsiToUtf8Into(ansi, out.data() + start));
}

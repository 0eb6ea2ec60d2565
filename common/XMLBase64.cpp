// Base64 (RFC 4648 alphabet, "=" padding, one line) for binary node values.
//
// The decoder keeps a 24-bit accumulator and the count of data characters of
// the open group. A group of four writes three bytes. Padding closes a group
// of two or three characters early: the accumulator is shifted as if the
// missing characters were zero, which puts the group's bits at the top of the
// 24 bits, and one or two bytes are written. The same happens at the end of
// the input to a group that lacks its padding. An "=" with no open group, and
// every byte outside the alphabet (line breaks, blanks), has no effect. One
// lone character left at the end cannot make a byte: the input is malformed.
#include "common/ZorvaXMLUtils.h"

#include "platform/Stream.h"

#include <array>
#include <cstddef>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int32_t kChunk = 3 * 16384;

constexpr int8_t kPadding = -2;
constexpr int8_t kSkipped = -1;

constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table)
    entry = kSkipped;
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  table[static_cast<unsigned char>('=')] = kPadding;
  return table;
}
constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

// Appends the encoding of `length` bytes; a tail of 1 or 2 bytes is padded.
void EncodeBytes(const unsigned char* data, std::size_t length, std::string& out) {
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t group = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += kAlphabet[(group >> 6) & 63];
    out += kAlphabet[group & 63];
  }
  const std::size_t rest = length - i;
  if (rest == 0) return;
  uint32_t group = uint32_t{data[i]} << 16;
  if (rest == 2) group |= uint32_t{data[i + 1]} << 8;
  out += kAlphabet[(group >> 18) & 63];
  out += kAlphabet[(group >> 12) & 63];
  out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
  out += '=';
}

class Base64Decoder {
public:
  // Decodes `length` bytes, appending to `out`.
  template <class Buffer> void Feed(const unsigned char* data, std::size_t length, Buffer& out) {
    for (std::size_t i = 0; i < length; ++i) {
      const int8_t value = kDecode[data[i]];
      if (value >= 0) {
        accumulator_ = (accumulator_ << 6) | static_cast<uint32_t>(value);
        if (++count_ == 4) CloseGroup(out);
      } else if (value == kPadding && count_ >= 2) {
        CloseGroup(out);
      }
    }
  }

  // Closes a group left open at the end; false when a lone character is left.
  template <class Buffer> bool Finish(Buffer& out) {
    if (count_ == 1) return false;
    if (count_ >= 2) CloseGroup(out);
    return true;
  }

private:
  template <class Buffer> void CloseGroup(Buffer& out) {
    const int bytes = count_ - 1;
    accumulator_ <<= 6 * (4 - count_);
    out.push_back(static_cast<typename Buffer::value_type>((accumulator_ >> 16) & 0xFF));
    if (bytes >= 2)
      out.push_back(static_cast<typename Buffer::value_type>((accumulator_ >> 8) & 0xFF));
    if (bytes >= 3) out.push_back(static_cast<typename Buffer::value_type>(accumulator_ & 0xFF));
    accumulator_ = 0;
    count_ = 0;
  }

  uint32_t accumulator_ = 0;
  int count_ = 0;
};

void WriteAll(TStream& target, const std::string& bytes) {
  if (!bytes.empty()) target.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

} // namespace

void Base64EncodeStream(TStream& source, TStream& target) {
  std::string bytes(kChunk, '\0');
  std::string text;
  // Bytes of a short read that do not fill a group wait for the next read;
  // only the true end of the source gets padding.
  std::size_t held = 0;
  for (;;) {
    const int32_t got = source.Read(bytes.data() + held, static_cast<int32_t>(kChunk - held));
    if (got <= 0) break;
    const std::size_t available = held + static_cast<std::size_t>(got);
    const std::size_t whole = available - available % 3;
    text.clear();
    EncodeBytes(reinterpret_cast<const unsigned char*>(bytes.data()), whole, text);
    WriteAll(target, text);
    held = available - whole;
    for (std::size_t i = 0; i < held; ++i)
      bytes[i] = bytes[whole + i];
  }
  text.clear();
  EncodeBytes(reinterpret_cast<const unsigned char*>(bytes.data()), held, text);
  WriteAll(target, text);
}

bool Base64DecodeStream(TStream& source, TStream& target) {
  std::string text(kChunk, '\0');
  std::string bytes;
  Base64Decoder decoder;
  for (;;) {
    const int32_t got = source.Read(text.data(), kChunk);
    if (got <= 0) break;
    bytes.clear();
    decoder.Feed(reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::size_t>(got),
                 bytes);
    WriteAll(target, bytes);
  }
  bytes.clear();
  const bool wellFormed = decoder.Finish(bytes);
  WriteAll(target, bytes);
  return wellFormed;
}

bool Base64TextToStream(std::string_view text, TStream& target) {
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  Base64Decoder decoder;
  decoder.Feed(reinterpret_cast<const unsigned char*>(text.data()), text.size(), bytes);
  const bool wellFormed = decoder.Finish(bytes);
  WriteAll(target, bytes);
  return wellFormed;
}

std::string StreamToBase64Text(TStream& source) {
  TMemoryStream text;
  Base64EncodeStream(source, text);
  return std::string(text.Memory(), static_cast<std::size_t>(text.GetSize()));
}

bool Base64TextToBytes(std::string_view text, TXMLBinary& value) {
  value.reset();
  if (text.empty()) return true;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  Base64Decoder decoder;
  decoder.Feed(reinterpret_cast<const unsigned char*>(text.data()), text.size(), bytes);
  if (!decoder.Finish(bytes)) return false;
  if (!bytes.empty()) value = std::move(bytes);
  return true;
}

void BytesToBase64Text(const TXMLBinary& value, std::string& text) {
  text.clear();
  if (!value) return;
  text.reserve((value->size() + 2) / 3 * 4);
  EncodeBytes(value->data(), value->size(), text);
}

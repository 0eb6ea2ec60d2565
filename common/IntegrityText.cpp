#include "common/IntegrityText.h"

#include "common/ZorvaXMLUtils.h"

#include <algorithm>
#include <vector>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <size_t N> std::optional<std::array<uint8_t, N>> DecodeBase64(std::string_view text) {
  TXMLBinary bytes;
  if (!Base64TextToBytes(text, bytes) || !bytes || bytes->size() != N) return std::nullopt;
  std::array<uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

// Publishers paste digests and signatures with blanks (or a line break)
// around them.
std::string_view TrimBlanks(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

} // namespace

std::optional<platform::TSha256Digest> ParseSha256Text(std::string_view text) {
  text = TrimBlanks(text);
  platform::TSha256Digest digest{};
  if (text.size() != 2 * digest.size()) return std::nullopt;
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return digest;
}

std::string Sha256Text(const platform::TSha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::optional<platform::TEd25519PublicKey> ParsePublicKeyText(std::string_view text) {
  return DecodeBase64<32>(text);
}

std::optional<platform::TEd25519Signature> ParseSignatureText(std::string_view text) {
  return DecodeBase64<64>(TrimBlanks(text));
}

std::string Base64Text(const uint8_t* bytes, size_t size) {
  std::string text;
  BytesToBase64Text(std::vector<uint8_t>(bytes, bytes + size), text);
  return text;
}

#pragma once
// The text forms of digests, keys and signatures in manifests and in
// VersionCfg.ini: a SHA-256 digest as 64 hexadecimal digits, Ed25519 keys
// and signatures as Base64 of their raw bytes.
#include "platform/Crypto.h"

#include <optional>
#include <string>
#include <string_view>

// The 32 bytes of a digest written as exactly 64 hexadecimal digits, in
// either letter case, with blanks and line breaks around them ignored;
// nullopt for any other text.
std::optional<platform::TSha256Digest> ParseSha256Text(std::string_view text);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Text(const platform::TSha256Digest& digest);

// A key or a signature in Base64 that decodes to exactly its size (blanks
// around a signature are ignored); nullopt for any other text.
std::optional<platform::TEd25519PublicKey> ParsePublicKeyText(std::string_view text);
std::optional<platform::TEd25519Signature> ParseSignatureText(std::string_view text);

// Base64 of the bytes, one line with padding.
std::string Base64Text(const uint8_t* bytes, size_t size);
template <size_t N> std::string Base64Text(const std::array<uint8_t, N>& bytes) {
  return Base64Text(bytes.data(), N);
}

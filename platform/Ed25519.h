#pragma once
// The curve half of Ed25519 verification (RFC 8032, section 5.1.7): what is
// left once the caller has hashed R || A || M with SHA-512. Splitting there
// lets the hash run while the message arrives, with whatever SHA-512 the
// system offers, and leaves only this check for the end.
//
// Portable C++ without system headers and without 128-bit integers, so that
// 32-bit Windows builds it too.
#include <array>
#include <cstdint>

namespace platform {

using TEd25519PublicKey = std::array<uint8_t, 32>;
using TEd25519Signature = std::array<uint8_t, 64>;
using TSha512Digest = std::array<uint8_t, 64>;

// True when the signature's R (its first 32 bytes) is the encoding of
// [S]B - [k]A, where S is its last 32 bytes, A the decoded public key, B the
// base point, and k the digest SHA-512(R || A || M) read little-endian and
// reduced modulo the group order L. False when it is not, when S >= L, and
// when the key is no canonical encoding of a curve point.
bool CheckEd25519Equation(const TEd25519PublicKey& publicKey, const TEd25519Signature& signature,
                          const TSha512Digest& digest);

} // namespace platform

#pragma once
// The curve half of Ed25519 (RFC 8032): the verification that is left once
// the caller has hashed R || A || M with SHA-512 (section 5.1.7), and the
// scalar and point steps of key generation and signing (sections 5.1.5 and
// 5.1.6). Splitting at the hashes lets them run while the message arrives,
// with whatever SHA-512 the system offers.
//
// Portable C++ without system headers and without 128-bit integers, so that
// 32-bit Windows builds it too.
#include <array>
#include <cstdint>

namespace platform {

using TEd25519PublicKey = std::array<uint8_t, 32>;
using TEd25519Signature = std::array<uint8_t, 64>;
using TSha512Digest = std::array<uint8_t, 64>;
// A number modulo the group order L, or a clamped secret scalar: 32 bytes,
// little-endian.
using TEd25519Scalar = std::array<uint8_t, 32>;

// True when the signature's R (its first 32 bytes) is the encoding of
// [S]B - [k]A, where S is its last 32 bytes, A the decoded public key, B the
// base point, and k the digest SHA-512(R || A || M) read little-endian and
// reduced modulo the group order L. False when it is not, when S >= L, and
// when the key is no canonical encoding of a curve point.
bool CheckEd25519Equation(const TEd25519PublicKey& publicKey, const TEd25519Signature& signature,
                          const TSha512Digest& digest);

// The encoding of [s]B, the base point's multiple. The steps taken do not
// depend on s, which is secret when it makes a public key or the R of a
// signature.
TEd25519Scalar Ed25519BaseMultiple(const TEd25519Scalar& s);

// The digest read little-endian, modulo L.
TEd25519Scalar Ed25519ReduceDigest(const TSha512Digest& digest);

// (a * b + c) modulo L, for a and b below 2^255 and c below 2^256: the S of a
// signature from k, the secret scalar and r.
TEd25519Scalar Ed25519MultiplyAdd(const TEd25519Scalar& a, const TEd25519Scalar& b,
                                  const TEd25519Scalar& c);

} // namespace platform

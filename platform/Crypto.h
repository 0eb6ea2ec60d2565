#pragma once
// Digests and signatures of packages and manifests: SHA-256 and SHA-512 fed
// in pieces, and the Ed25519 check and signature fed the same way. Digests,
// keys and signatures are raw bytes here; their text forms (hexadecimal,
// Base64) are the caller's.
#include "platform/Ed25519.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

using TSha256Digest = std::array<uint8_t, 32>;

// SHA-256 of the bytes fed to it, in any number of pieces.
class TSha256 {
public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything fed since construction or the last Final; the
  // hasher then starts again with nothing fed.
  TSha256Digest Final();

private:
  struct State;
  std::unique_ptr<State> state_;
};

// SHA-512 of the bytes fed to it, in any number of pieces.
class TSha512 {
public:
  TSha512();
  ~TSha512();
  TSha512(const TSha512&) = delete;
  TSha512& operator=(const TSha512&) = delete;

  void Update(const void* data, size_t size);
  // As TSha256::Final.
  TSha512Digest Final();

private:
  struct State;
  std::unique_ptr<State> state_;
};

// The Ed25519 check (RFC 8032, the pure form over the message itself) of a
// message fed in pieces. The message only enters SHA-512(R || A || M), and
// R and A are known before its first byte, so the hashing runs as the
// pieces come and the verdict costs a fixed, small time.
class TEd25519Verifier {
public:
  TEd25519Verifier(const TEd25519PublicKey& publicKey, const TEd25519Signature& signature);

  void Update(const void* data, size_t size);
  // True when the signature is the publisher's signature of everything fed
  // since construction; false when not, also when the key is no canonical
  // curve point or S is not below the group order. Ends the message: a
  // verifier gives one verdict.
  bool Verify();

private:
  TEd25519PublicKey publicKey_;
  TEd25519Signature signature_;
  TSha512 hasher_;
};

// The 32-byte private key of RFC 8032 (the seed the secret scalar and the
// nonce prefix are hashed from).
using TEd25519Seed = std::array<uint8_t, 32>;

// The Ed25519 signature (RFC 8032, section 5.1.6, the pure form) of a
// message read twice: the nonce r comes from SHA-512(prefix || M), and only
// then can k = SHA-512(R || A || M) start. So a file of any size is signed
// in two passes with a fixed amount of memory. The secret values are wiped
// when the signer goes.
class TEd25519Signer {
public:
  explicit TEd25519Signer(const TEd25519Seed& seed);
  ~TEd25519Signer();
  TEd25519Signer(const TEd25519Signer&) = delete;
  TEd25519Signer& operator=(const TEd25519Signer&) = delete;

  const TEd25519PublicKey& PublicKey() const { return publicKey_; }

  // The next piece of the message, in the first pass or the second.
  void Update(const void* data, size_t size);
  // Ends the first pass; the same bytes are then fed again.
  void StartSecondPass();
  // Ends the second pass. A signer gives one signature.
  TEd25519Signature Finish();

private:
  TEd25519Scalar secret_{};
  std::array<uint8_t, 32> prefix_{};
  TEd25519Scalar nonce_{};
  TEd25519PublicKey publicKey_{};
  TEd25519PublicKey r_{};
  TSha512 hasher_;
};

// The signature of a message at hand.
TEd25519Signature SignEd25519(const TEd25519Seed& seed, std::string_view message);

} // namespace platform

#include "platform/Crypto.h"

#include <algorithm>

namespace platform {
namespace {

// Clears secret bytes in a way the compiler may not drop as a dead store.
template <size_t N> void Wipe(std::array<uint8_t, N>& bytes) {
  volatile uint8_t* p = bytes.data();
  for (size_t i = 0; i < N; ++i)
    p[i] = 0;
}

} // namespace

TEd25519Verifier::TEd25519Verifier(const TEd25519PublicKey& publicKey,
                                   const TEd25519Signature& signature)
    : publicKey_(publicKey), signature_(signature) {
  hasher_.Update(signature_.data(), 32); // R
  hasher_.Update(publicKey_.data(), publicKey_.size());
}

void TEd25519Verifier::Update(const void* data, size_t size) {
  hasher_.Update(data, size);
}

bool TEd25519Verifier::Verify() {
  return CheckEd25519Equation(publicKey_, signature_, hasher_.Final());
}

TEd25519Signer::TEd25519Signer(const TEd25519Seed& seed) {
  hasher_.Update(seed.data(), seed.size());
  TSha512Digest h = hasher_.Final();
  std::copy_n(h.begin(), secret_.size(), secret_.begin());
  secret_[0] &= 248;
  secret_[31] &= 127;
  secret_[31] |= 64;
  std::copy_n(h.begin() + 32, prefix_.size(), prefix_.begin());
  Wipe(h);
  publicKey_ = Ed25519BaseMultiple(secret_);
  hasher_.Update(prefix_.data(), prefix_.size());
}

TEd25519Signer::~TEd25519Signer() {
  Wipe(secret_);
  Wipe(prefix_);
  Wipe(nonce_);
}

void TEd25519Signer::Update(const void* data, size_t size) {
  hasher_.Update(data, size);
}

void TEd25519Signer::StartSecondPass() {
  TSha512Digest h = hasher_.Final();
  nonce_ = Ed25519ReduceDigest(h);
  Wipe(h);
  r_ = Ed25519BaseMultiple(nonce_);
  hasher_.Update(r_.data(), r_.size());
  hasher_.Update(publicKey_.data(), publicKey_.size());
}

TEd25519Signature TEd25519Signer::Finish() {
  const TEd25519Scalar k = Ed25519ReduceDigest(hasher_.Final());
  const TEd25519Scalar s = Ed25519MultiplyAdd(k, secret_, nonce_);
  TEd25519Signature signature{};
  std::copy(r_.begin(), r_.end(), signature.begin());
  std::copy(s.begin(), s.end(), signature.begin() + 32);
  return signature;
}

TEd25519Signature SignEd25519(const TEd25519Seed& seed, std::string_view message) {
  TEd25519Signer signer(seed);
  signer.Update(message.data(), message.size());
  signer.StartSecondPass();
  signer.Update(message.data(), message.size());
  return signer.Finish();
}

} // namespace platform

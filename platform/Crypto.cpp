#include "platform/Crypto.h"

namespace platform {

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

} // namespace platform

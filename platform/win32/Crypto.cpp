// The package digests on Windows: SHA-256 and SHA-512 through the system's
// CNG (BCrypt). Windows has no Ed25519 of its own; the signature check is the
// portable one over this SHA-512.
#include "platform/Crypto.h"

#include "platform/win32/SystemError.h"

#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

namespace platform {
namespace {

void CloseAlgorithm(BCRYPT_ALG_HANDLE h) {
  BCryptCloseAlgorithmProvider(h, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE h) {
  BCryptDestroyHash(h);
}
using Algorithm = win32::UniqueHandle<BCRYPT_ALG_HANDLE, &CloseAlgorithm, nullptr>;
using Hash = win32::UniqueHandle<BCRYPT_HASH_HANDLE, &DestroyHash, nullptr>;

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

// One CNG hash, started again after each result.
class TDigest {
public:
  explicit TDigest(LPCWSTR algorithmId) {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&h, algorithmId, nullptr, 0)))
      throw std::runtime_error("the system cannot compute the package digest");
    algorithm_.reset(h);
    Start();
  }
  void Update(const void* data, size_t size) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    // BCryptHashData takes at most a ULONG at a time.
    while (size > 0) {
      const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
      BCryptHashData(hash_.get(), bytes, piece, 0);
      bytes += piece;
      size -= piece;
    }
  }
  template <size_t N> std::array<uint8_t, N> Final() {
    std::array<uint8_t, N> digest{};
    BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    Start();
    return digest;
  }

private:
  void Start() {
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!Succeeded(BCryptCreateHash(algorithm_.get(), &h, nullptr, 0, nullptr, 0, 0)))
      throw std::runtime_error("the system cannot compute the package digest");
    hash_.reset(h);
  }

  Algorithm algorithm_;
  Hash hash_;
};

} // namespace

struct TSha256::State : TDigest {
  State() : TDigest(BCRYPT_SHA256_ALGORITHM) {}
};

TSha256::TSha256() : state_(std::make_unique<State>()) {}
TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  state_->Update(data, size);
}

TSha256Digest TSha256::Final() {
  return state_->Final<32>();
}

struct TSha512::State : TDigest {
  State() : TDigest(BCRYPT_SHA512_ALGORITHM) {}
};

TSha512::TSha512() : state_(std::make_unique<State>()) {}
TSha512::~TSha512() = default;

void TSha512::Update(const void* data, size_t size) {
  state_->Update(data, size);
}

TSha512Digest TSha512::Final() {
  return state_->Final<64>();
}

} // namespace platform

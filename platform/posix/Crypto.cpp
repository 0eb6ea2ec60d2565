// The package digests over OpenSSL's libcrypto.
//
// libcurl shares libcrypto and its per-thread error queue: a failure here
// clears the queue, so that a stale entry never shows up in a later TLS
// error.
#include "platform/Crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace platform {
namespace {

struct MdContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

// One libcrypto digest, started again after each result.
class TDigest {
public:
  explicit TDigest(const EVP_MD* md) : md_(md), ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) throw std::bad_alloc();
    Start();
  }
  void Update(const void* data, size_t size) {
    if (size > 0) EVP_DigestUpdate(ctx_.get(), data, size);
  }
  template <size_t N> std::array<uint8_t, N> Final() {
    std::array<uint8_t, N> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length);
    Start();
    return digest;
  }

private:
  void Start() {
    if (EVP_DigestInit_ex(ctx_.get(), md_, nullptr) != 1) {
      ERR_clear_error();
      throw std::runtime_error("libcrypto cannot compute the package digest");
    }
  }

  const EVP_MD* md_;
  MdContext ctx_;
};

} // namespace

struct TSha256::State : TDigest {
  State() : TDigest(EVP_sha256()) {}
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
  State() : TDigest(EVP_sha512()) {}
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

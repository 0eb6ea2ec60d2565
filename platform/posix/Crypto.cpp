// The package digests over OpenSSL's libcrypto.
//
// libcurl shares libcrypto and its per-thread error queue: a failed check
// clears the queue, so that a stale entry never shows up in a later TLS
// error.
#include "platform/Crypto.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace platform {
namespace {

const AnsiText kCannotOpen{"无法打开文件"};

struct MdContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

struct PKeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;

MdContext NewContext() {
  MdContext ctx(EVP_MD_CTX_new());
  if (!ctx) throw std::bad_alloc();
  return ctx;
}

[[noreturn]] void RaiseOpenError(const std::string& ansiPath, int error) {
  throw EFOpenError(kCannotOpen.str() + " \"" + ansiPath + "\" " +
                    Utf8ToAnsi(std::strerror(error)));
}

// A file's bytes mapped read-only for the life of the object.
class TMappedFile {
public:
  explicit TMappedFile(const std::string& ansiPath) {
    // Not blocking: a FIFO without a writer must be refused, not waited for.
    const int fd = ::open(AnsiToUtf8(ansiPath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) RaiseOpenError(ansiPath, errno);
    struct stat st {};
    int error = ::fstat(fd, &st) != 0 ? errno : 0;
    if (error == 0 && !S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (error != 0) {
      ::close(fd);
      RaiseOpenError(ansiPath, error);
    }
    size_ = static_cast<size_t>(st.st_size);
    if (size_ > 0) {
      void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      const int error = errno;
      ::close(fd); // the mapping keeps the file
      if (data == MAP_FAILED) RaiseOpenError(ansiPath, error);
      data_ = static_cast<const unsigned char*>(data);
      ::madvise(data, size_, MADV_SEQUENTIAL);
    } else {
      ::close(fd);
    }
  }
  ~TMappedFile() {
    if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
  }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // Never null, also for an empty file.
  const unsigned char* Data() const { return data_ ? data_ : &kEmpty; }
  size_t Size() const { return size_; }

private:
  static constexpr unsigned char kEmpty = 0;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

} // namespace

struct TSha256::State {
  MdContext ctx = NewContext();
  void Start() {
    if (EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
      throw std::runtime_error("libcrypto cannot compute SHA-256");
  }
};

TSha256::TSha256() : state_(std::make_unique<State>()) {
  state_->Start();
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  if (size > 0) EVP_DigestUpdate(state_->ctx.get(), data, size);
}

TSha256Digest TSha256::Final() {
  TSha256Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &length);
  state_->Start();
  return digest;
}

bool VerifyEd25519File(const std::string& ansiPath, const TEd25519PublicKey& publicKey,
                       const TEd25519Signature& signature) {
  const TMappedFile file(ansiPath);
  PKey key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  if (!key) {
    ERR_clear_error();
    return false;
  }
  MdContext ctx = NewContext();
  const bool valid = EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                     EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), file.Data(),
                                      file.Size()) == 1;
  if (!valid) ERR_clear_error();
  return valid;
}

} // namespace platform

// The package digests on Windows: SHA-256 through the system's CNG
// (BCrypt). Windows has no Ed25519 of its own, before or after Windows 10:
// until the system or the project brings one, the signature check here
// refuses every signature, so that a product configured with a publisher key
// installs nothing unverified on Windows.
#include "platform/Crypto.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/win32/SystemError.h"

#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

namespace platform {
namespace {

const AnsiText kCannotOpen{"无法打开文件"};
const AnsiText kNotRegularFile{"不是普通文件"};

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

} // namespace

struct TSha256::State {
  Algorithm algorithm;
  Hash hash;

  State() {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
      throw std::runtime_error("the system cannot compute SHA-256");
    algorithm.reset(h);
    Start();
  }
  void Start() {
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!Succeeded(BCryptCreateHash(algorithm.get(), &h, nullptr, 0, nullptr, 0, 0)))
      throw std::runtime_error("the system cannot compute SHA-256");
    hash.reset(h);
  }
};

TSha256::TSha256() : state_(std::make_unique<State>()) {}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    BCryptHashData(state_->hash.get(), bytes, piece, 0);
    bytes += piece;
    size -= piece;
  }
}

TSha256Digest TSha256::Final() {
  TSha256Digest digest{};
  BCryptFinishHash(state_->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
  state_->Start();
  return digest;
}

bool VerifyEd25519File(const std::string& ansiPath, const TEd25519PublicKey& /*publicKey*/,
                       const TEd25519Signature& /*signature*/) {
  // The file is still opened, so that a missing or special file raises as on
  // Linux.
  const HANDLE h = CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFOpenError(kCannotOpen.str() + " \"" + ansiPath + "\" " +
                      win32::SystemErrorText(GetLastError()));
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  if (!disk)
    throw EFOpenError(kCannotOpen.str() + " \"" + ansiPath + "\" " + kNotRegularFile.str());
  return false;
}

} // namespace platform

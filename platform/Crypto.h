#pragma once
// Digests and signatures of downloaded packages: SHA-256 fed in pieces, and
// the Ed25519 check of a whole file. Digests, keys and signatures are raw
// bytes here; their text forms (hexadecimal, Base64) are the caller's.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using TSha256Digest = std::array<uint8_t, 32>;
using TEd25519PublicKey = std::array<uint8_t, 32>;
using TEd25519Signature = std::array<uint8_t, 64>;

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

// True when `signature` is the Ed25519 signature (RFC 8032, the pure form over
// the message itself) of the file's bytes under `publicKey`; false when it is
// not, also when the key is no valid curve point. The pure form needs the
// whole message at once, so the file is mapped into the address space rather
// than read into memory. Raises EFOpenError when the file cannot be opened or
// mapped. Windows has no Ed25519 of its own: there every signature is
// refused (false), so that nothing unverified is installed.
bool VerifyEd25519File(const std::string& ansiPath, const TEd25519PublicKey& publicKey,
                       const TEd25519Signature& signature);

} // namespace platform

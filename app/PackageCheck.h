#pragma once
// What a downloaded package must pass before it is installed or copied into
// place: the SHA-256 digest that its manifest entry names (attribute SHA256),
// and, when VersionCfg.ini holds a publisher key ([Security] PublicKey), the
// publisher's Ed25519 signature of its bytes (attribute Signature).
//
// The digest is computed while the package arrives, so that on a slow link
// it costs nothing after the last byte. The file grows under the hasher:
// at each work event of the transfer its first bytes up to the count of that
// event are written, and no later write of the same transfer goes below them
// (the client writes one response front to back; a server that ignores the
// range makes it start at 0 before its first event). So the hasher reads
// back from the file what lies below that count and has not been hashed
// yet; the bytes before the resume offset, which an earlier run wrote, are
// read like the others. When the transfer ends, the rest of the file is
// hashed. A check object serves one transfer.
//
// The signature is the pure Ed25519 form over the whole package, which
// cannot be fed in pieces: it is checked once the file is whole.
#include "platform/Crypto.h"
#include "platform/Stream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What is wrong with a finished package.
enum class TPackageFault { None, Corrupt, BadSignature };

// The 32 bytes of a digest written as exactly 64 hexadecimal digits, in
// either letter case; nullopt for any other text.
std::optional<platform::TSha256Digest> ParseSha256Text(std::string_view text);

class TPackageCheck {
public:
  // `sha256` and `signature` are the manifest entry's attributes, nullopt
  // when the entry has none; `publicKey` is the configured key in Base64,
  // empty when none is set; `file` is the local package.
  TPackageCheck(std::optional<std::string> sha256, std::optional<std::string> signature,
                std::string publicKey, std::string file);
  ~TPackageCheck();
  TPackageCheck(const TPackageCheck&) = delete;
  TPackageCheck& operator=(const TPackageCheck&) = delete;

  // False when neither a digest nor a signature is asked for: the package is
  // then taken as it comes.
  bool Active() const { return sha256_.has_value() || !publicKey_.empty(); }

  // The file's first `writtenEnd` bytes are in place for good: hashes those
  // not hashed yet. Raises EStreamError when the file cannot be read.
  void Advance(int64_t writtenEnd);

  // The verdict on the finished file. A digest or signature that is present
  // but malformed, a missing signature while a key is set, and a key that is
  // not 32 bytes of Base64 all fail. The file is closed afterwards. Raises
  // EStreamError / EFOpenError when the file cannot be read.
  TPackageFault Verify();

private:
  bool SignatureIsValid();

  std::optional<std::string> sha256_;
  std::optional<std::string> signature_;
  std::string publicKey_;
  std::string file_;
  // The digest is computed only when there is a well-formed one to match.
  std::optional<platform::TSha256Digest> expected_;
  platform::TSha256 hasher_;
  std::unique_ptr<TFileStream> reader_;
  int64_t hashed_ = 0;
  std::vector<char> buffer_;
};

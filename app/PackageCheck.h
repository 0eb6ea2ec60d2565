#pragma once
// What a downloaded package must pass before it is installed or copied into
// place: the SHA-256 digest that its manifest entry names (attribute SHA256),
// and, when VersionCfg.ini holds a publisher key ([Security] PublicKey), the
// publisher's Ed25519 signature of its bytes (attribute Signature).
//
// Both checks run while the package arrives, so that on a slow link they
// cost next to nothing after the last byte. The file grows under them: at
// each work event of the transfer its first bytes up to the count of that
// event are written, and no later write of the same transfer goes below
// them (the client writes one response front to back; a server that
// ignores the range makes it start at 0 before its first event). So the
// check reads back from the file what lies below that count and has not
// been fed yet, and feeds it to the SHA-256 and to the signature's SHA-512
// alike; the bytes before the resume offset, which an earlier run wrote,
// are read like the others. When the transfer ends, the rest of the file is
// fed, and the signature's verdict needs only its curve arithmetic. A check
// object serves one transfer.
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

class TPackageCheck {
public:
  // `sha256` and `signature` are the manifest entry's attributes, nullopt
  // when the entry has none; `publicKey` is the configured key in Base64,
  // empty when none is set; `file` is the local package.
  TPackageCheck(std::optional<std::string> sha256, const std::optional<std::string>& signature,
                std::string publicKey, std::string file);
  ~TPackageCheck();
  TPackageCheck(const TPackageCheck&) = delete;
  TPackageCheck& operator=(const TPackageCheck&) = delete;

  // False when neither a digest nor a signature is asked for: the package is
  // then taken as it comes.
  bool Active() const { return sha256_.has_value() || !publicKey_.empty(); }

  // The file's first `writtenEnd` bytes are in place for good: feeds those
  // not fed yet to the checks. Raises EStreamError when the file cannot be
  // read.
  void Advance(int64_t writtenEnd);

  // The verdict on the finished file. A digest or signature that is present
  // but malformed, a missing signature while a key is set, and a key that is
  // not 32 bytes of Base64 all fail. The file is closed afterwards. Raises
  // EStreamError / EFOpenError when the file cannot be read.
  TPackageFault Verify();

private:
  std::optional<std::string> sha256_;
  std::string publicKey_;
  std::string file_;
  // The digest is computed only when there is a well-formed one to match,
  // the signature checked only when key and signature are well-formed.
  std::optional<platform::TSha256Digest> expected_;
  platform::TSha256 hasher_;
  std::unique_ptr<platform::TEd25519Verifier> verifier_;
  std::unique_ptr<TFileStream> reader_;
  int64_t fed_ = 0;
  std::vector<char> buffer_;
};

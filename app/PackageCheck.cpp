#include "app/PackageCheck.h"

#include "common/IntegrityText.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

namespace {

// Large enough that reading back costs next to nothing beside the hashing.
constexpr int32_t kReadBlock = 1 << 20;

} // namespace

TPackageCheck::TPackageCheck(std::optional<std::string> sha256,
                             const std::optional<std::string>& signature, std::string publicKey,
                             std::string file)
    : sha256_(std::move(sha256)), publicKey_(std::move(publicKey)), file_(std::move(file)) {
  if (sha256_) expected_ = ParseSha256Text(*sha256_);
  if (publicKey_.empty()) return;
  const auto key = ParsePublicKeyText(publicKey_);
  const auto rawSignature = signature ? ParseSignatureText(*signature) : std::nullopt;
  if (key && rawSignature)
    verifier_ = std::make_unique<platform::TEd25519Verifier>(*key, *rawSignature);
}

TPackageCheck::~TPackageCheck() = default;

void TPackageCheck::Advance(int64_t writtenEnd) {
  if ((!expected_ && !verifier_) || writtenEnd <= fed_) return;
  if (!reader_) {
    reader_ = std::make_unique<TFileStream>(file_, fmOpenRead);
    buffer_.resize(kReadBlock);
  }
  reader_->SetPosition(fed_);
  while (fed_ < writtenEnd) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(kReadBlock, writtenEnd - fed_));
    const int32_t got = reader_->Read(buffer_.data(), want);
    // A file shorter than it should be leaves the message short: it cannot
    // match.
    if (got <= 0) return;
    if (expected_) hasher_.Update(buffer_.data(), static_cast<size_t>(got));
    if (verifier_) verifier_->Update(buffer_.data(), static_cast<size_t>(got));
    fed_ += got;
  }
}

TPackageFault TPackageCheck::Verify() {
  Advance(std::numeric_limits<int64_t>::max());
  reader_.reset();
  if (sha256_ && !(expected_ && hasher_.Final() == *expected_)) return TPackageFault::Corrupt;
  // A key is set but the signature or the key itself is malformed: no
  // verifier could be made.
  if (!publicKey_.empty() && !(verifier_ && verifier_->Verify()))
    return TPackageFault::BadSignature;
  return TPackageFault::None;
}

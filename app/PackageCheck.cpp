#include "app/PackageCheck.h"

#include "common/ZorvaXMLUtils.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

namespace {

// Large enough that reading back costs next to nothing beside the hashing.
constexpr int32_t kReadBlock = 1 << 20;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly N bytes in Base64, or nullopt.
template <size_t N> std::optional<std::array<uint8_t, N>> DecodeBase64(std::string_view text) {
  TXMLBinary bytes;
  if (!Base64TextToBytes(text, bytes) || !bytes || bytes->size() != N) return std::nullopt;
  std::array<uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

// Publishers paste digests and signatures with blanks (or a line break)
// around them.
std::string_view TrimBlanks(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

} // namespace

std::optional<platform::TSha256Digest> ParseSha256Text(std::string_view text) {
  platform::TSha256Digest digest{};
  if (text.size() != 2 * digest.size()) return std::nullopt;
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return digest;
}

TPackageCheck::TPackageCheck(std::optional<std::string> sha256,
                             const std::optional<std::string>& signature, std::string publicKey,
                             std::string file)
    : sha256_(std::move(sha256)), publicKey_(std::move(publicKey)), file_(std::move(file)) {
  if (sha256_) expected_ = ParseSha256Text(TrimBlanks(*sha256_));
  if (publicKey_.empty()) return;
  const auto key = DecodeBase64<32>(publicKey_);
  const auto rawSignature = signature ? DecodeBase64<64>(TrimBlanks(*signature)) : std::nullopt;
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

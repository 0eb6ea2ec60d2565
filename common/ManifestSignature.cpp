#include "common/ManifestSignature.h"

#include "common/IntegrityText.h"
#include "common/VersionManifest.h"
#include "platform/Crypto.h"

#include <chrono>
#include <cstdio>

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

TManifestCheck VerifyManifest(std::string_view manifest,
                              const std::optional<std::string>& signatureFile,
                              std::string_view publicKeyText, int64_t now) {
  TManifestCheck check;
  const auto key = ParsePublicKeyText(publicKeyText);
  if (!key) {
    check.verdict = TManifestVerdict::BadKey;
    return check;
  }
  const std::vector<std::string> lines =
      signatureFile ? SignatureLines(*signatureFile) : std::vector<std::string>();
  if (lines.empty()) {
    check.verdict = TManifestVerdict::Missing;
    return check;
  }
  bool signedByKey = false;
  for (const std::string& line : lines)
    signedByKey = signedByKey || ManifestSignatureMatches(manifest, *key, line);
  if (!signedByKey) {
    check.verdict = TManifestVerdict::Invalid;
    return check;
  }
  IXMLDocumentRef document = LoadManifestBytes(manifest);
  IXMLNodeRef root = document->GetDocumentElement();
  const auto text = root ? FindAttribute(root, kExpiresAttribute) : std::nullopt;
  check.expires = text ? ParseUtcTime(*text) : std::nullopt;
  if (!check.expires)
    check.verdict = TManifestVerdict::NoExpiry;
  else if (now > *check.expires + kManifestExpiryGraceSeconds)
    check.verdict = TManifestVerdict::Expired;
  else
    check.verdict = TManifestVerdict::Valid;
  return check;
}

bool ManifestSignatureMatches(std::string_view manifest, const std::array<uint8_t, 32>& publicKey,
                              std::string_view signatureLine) {
  const auto signature = ParseSignatureText(signatureLine);
  if (!signature) return false;
  platform::TEd25519Verifier verifier(publicKey, *signature);
  verifier.Update(manifest.data(), manifest.size());
  return verifier.Verify();
}

const char* ManifestVerdictName(TManifestVerdict verdict) {
  switch (verdict) {
  case TManifestVerdict::Valid:
    return "valid";
  case TManifestVerdict::BadKey:
    return "bad-key";
  case TManifestVerdict::Missing:
    return "missing";
  case TManifestVerdict::Invalid:
    return "invalid";
  case TManifestVerdict::NoExpiry:
    return "no-expiry";
  case TManifestVerdict::Expired:
    return "expired";
  }
  return "?";
}

std::vector<std::string> SignatureLines(std::string_view signatureFile) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < signatureFile.size()) {
    size_t end = signatureFile.find('\n', from);
    if (end == std::string_view::npos) end = signatureFile.size();
    std::string_view line = signatureFile.substr(from, end - from);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    if (!line.empty()) lines.emplace_back(line);
    from = end + 1;
  }
  return lines;
}

std::optional<int64_t> ParseUtcTime(std::string_view text) {
  // Exactly YYYY-MM-DDThh:mm:ssZ, digits where digits belong.
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
  if (text.size() != kShape.size()) return std::nullopt;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [&](size_t at, size_t count) {
    int64_t value = 0;
    for (size_t i = 0; i < count; ++i)
      value = value * 10 + (text[at + i] - '0');
    return value;
  };
  const int64_t year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int64_t hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 ||
      day > kMonthDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0) || hour > 23 ||
      minute > 59 || second > 59)
    return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string UtcTimeText(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The inverse of DaysFromCivil.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

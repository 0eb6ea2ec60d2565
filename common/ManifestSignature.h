#pragma once
// Signed manifests.
//
// Over plain HTTP anyone on the way can rewrite a manifest; package
// signatures do not stop that. So a publisher with a key writes
// Version.xml.sig beside each manifest: Base64 of the Ed25519 signature of
// the manifest's exact bytes, one per line. A manifest is signed when any
// line is its signature: while the publisher replaces a manifest, the file
// keeps the previous manifest's signature too, so that a client that
// fetched the old manifest and then the new signature file still finds its
// own. A signed manifest carries Expires="YYYY-MM-DDThh:mm:ssZ" (UTC) on its
// document element; one that expired more than a day ago is refused, so
// that nobody can keep announcing an old version for ever.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TManifestVerdict {
  Valid,
  // The configured key is no Ed25519 public key in Base64.
  BadKey,
  // No signature file, or no signature in it.
  Missing,
  // No line of the signature file is the manifest's signature.
  Invalid,
  // Signed, but its document element has no valid Expires.
  NoExpiry,
  // Signed, and Expires lies more than a day in the past.
  Expired,
};

// How long after Expires a manifest is still taken: clocks differ.
constexpr int64_t kManifestExpiryGraceSeconds = 24 * 3600;

struct TManifestCheck {
  TManifestVerdict verdict = TManifestVerdict::Missing;
  // Expires of a signed manifest, seconds since 1970-01-01 UTC.
  std::optional<int64_t> expires;
};

// The verdict on `manifest` with the contents of its signature file
// (nullopt when there is none) under `publicKeyText`, at the time `now`
// (seconds since 1970 UTC). Raises EXMLException when a signed manifest is
// not well-formed.
TManifestCheck VerifyManifest(std::string_view manifest,
                              const std::optional<std::string>& signatureFile,
                              std::string_view publicKeyText, int64_t now);

// Whether `signatureLine` (Base64) is the signature of `manifest` under
// `publicKey`.
bool ManifestSignatureMatches(std::string_view manifest, const std::array<uint8_t, 32>& publicKey,
                              std::string_view signatureLine);

// "valid", "bad-key", "missing", "invalid", "no-expiry", "expired".
const char* ManifestVerdictName(TManifestVerdict verdict);

// The signatures of a signature file, one a line, blank lines skipped.
std::vector<std::string> SignatureLines(std::string_view signatureFile);

// The attribute of the document element that holds the expiry.
inline constexpr const char* kExpiresAttribute = "Expires";

// "YYYY-MM-DDThh:mm:ssZ" and back; nullopt for any other text.
std::optional<int64_t> ParseUtcTime(std::string_view text);
std::string UtcTimeText(int64_t seconds);
// The system clock, seconds since 1970 UTC.
int64_t UtcNow();

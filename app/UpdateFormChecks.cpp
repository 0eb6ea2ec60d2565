// The version manifest and the two update checks: the program check (an
// entry per region, offered as the staged rollout allows) and the template
// check (an entry per template, compared with the version in the installed
// template's archive comment). With [Security] ManifestSigned=1 a manifest
// is taken only with its publisher's signature.
#include "app/Rollout.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "archive/TemplateVersion.h"
#include "common/IntegerText.h"
#include "common/ManifestSignature.h"
#include "common/ProductTable.h"
#include "common/VersionManifest.h"
#include "common/ZorvaXMLIntf.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/MachineIdentity.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/ProfileText.h"
#include "platform/TextFormat.h"

#include <exception>
#include <optional>
#include <string_view>

namespace {

namespace tx = updatetexts;

// A manifest is a few KiB; a server that sends without end must not fill the
// memory.
constexpr int32_t kMaxManifestSize = 16 * 1024 * 1024;

// Caps what a server may send for a manifest or its signature.
class TCappedStream : public TMemoryStream {
public:
  explicit TCappedStream(int32_t cap) : cap_(cap) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (GetPosition() + count > cap_)
      throw EStreamError(platform::FormatText(tx::kManifestTooLarge, cap_));
    return TMemoryStream::Write(buffer, count);
  }
  std::string_view Bytes() { return {Memory(), static_cast<size_t>(GetSize())}; }

private:
  int32_t cap_;
};

// A signature file holds a line or two of Base64.
constexpr int32_t kMaxSignatureFileSize = 64 * 1024;

// The manifest is not taken; the text says why.
class EManifestRefused : public Exception {
public:
  using Exception::Exception;
};

} // namespace

void TUpdateForm::FetchManifest(const std::string& url) {
  TCappedStream manifest(kMaxManifestSize);
  platform::THttpClient client;
  // A server that accepts the connection and never answers must not hold the
  // updater for ever.
  client.SetConnectTimeout(limits.checkConnectMs);
  client.SetTotalTimeout(limits.checkTotalMs);
  client.Get(url, manifest);
  if (platform::ReadProfileInt(configFile, "Security", "ManifestSigned", 0) == 1)
    VerifyManifestSignature(url, manifest.Bytes());
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::WriteFileAtomically(file, manifest.Bytes()))
    throw EFOpenError(platform::FormatText(tx::kFileWriteFailed, file));
}

void TUpdateForm::VerifyManifestSignature(const std::string& url, std::string_view manifest) {
  const std::string signatureUrl = url + ".sig";
  std::optional<std::string> signatureFile;
  TCappedStream signature(kMaxSignatureFileSize);
  platform::THttpClient client;
  client.SetConnectTimeout(limits.checkConnectMs);
  client.SetTotalTimeout(limits.checkTotalMs);
  try {
    client.Get(signatureUrl, signature);
    signatureFile = std::string(signature.Bytes());
  } catch (const platform::EHttpError& e) {
    // The server answered that it has none; a network failure is a failed
    // check like any other.
    if (e.Status() == 0) throw;
  }
  const std::string publicKey =
      platform::ReadProfileString(configFile, "Security", "PublicKey", "");
  const TManifestCheck check = VerifyManifest(manifest, signatureFile, publicKey, UtcNow());
  Log(platform::FormatText("manifest signature=%s url=%s", ManifestVerdictName(check.verdict),
                           UrlForLog(signatureUrl)));
  std::string reason;
  switch (check.verdict) {
  case TManifestVerdict::Valid:
    return;
  case TManifestVerdict::BadKey:
    reason = tx::kManifestBadKey;
    break;
  case TManifestVerdict::Missing:
    reason = platform::FormatText(tx::kManifestUnsigned, UrlForLog(signatureUrl));
    break;
  case TManifestVerdict::Invalid:
    reason = tx::kManifestBadSignature;
    break;
  case TManifestVerdict::NoExpiry:
    reason = tx::kManifestNoExpiry;
    break;
  case TManifestVerdict::Expired:
    reason = platform::FormatText(tx::kManifestExpired, UtcTimeText(check.expires.value_or(0)));
    break;
  }
  throw EManifestRefused(tx::kManifestRefused.str() + reason);
}

TCheckResult TUpdateForm::CheckProductUpdate() {
  lastCheckError.clear();
  manifestRefused = false;
  try {
    const std::string url = BuildProductUrl(false, "Version.xml", "");
    if (!ReachServer(url)) return TCheckResult::CheckFailed;
    FetchManifest(url);
    ReadProductManifest();
    const int32_t installed = ReadInstalledVersion();
    Log(platform::FormatText("offer version=%d installed=%d path=%s mandatory=%d integrity=%s",
                             latestVersion, installed, packagePath, mustUpdate,
                             IntegrityAttributes()));
    if (latestVersion > installed && RolloutOffers()) {
      controls[ControlId::lblPrompt1].caption = platform::FormatText(tx::kOfferText, latestVersion);
      return TCheckResult::UpdateAvailable;
    }
    return TCheckResult::UpToDate;
  } catch (const EManifestRefused& e) {
    lastCheckError = e.what();
    manifestRefused = true;
    return TCheckResult::CheckFailed;
  } catch (const std::exception& e) {
    lastCheckError = e.what();
    return TCheckResult::CheckFailed;
  }
}

bool TUpdateForm::RolloutOffers() {
  if (rolloutPercent >= 100) return true;
  const std::string identity = platform::MachineIdentity();
  const int32_t bucket = RolloutBucket(identity, GetProductKind(), latestVersion);
  // A mandatory update reaches every machine at once.
  const bool offered = mustUpdate == 1 || bucket < rolloutPercent;
  Log(platform::FormatText("rollout percent=%d bucket=%d%s mandatory=%d offered=%d", rolloutPercent,
                           bucket, identity.empty() ? " identity=none" : "", mustUpdate,
                           offered ? 1 : 0));
  return offered;
}

bool TUpdateForm::ReachServer(const std::string& manifestUrl) {
  Log("manifest url=" + UrlForLog(manifestUrl));
  if (platform::CanConnectTo(manifestUrl, limits.reachMs)) return true;
  lastCheckError = platform::FormatText(tx::kServerUnreachable, UrlForLog(manifestUrl));
  return false;
}

std::string TUpdateForm::IntegrityAttributes() const {
  std::string names;
  if (packageSha256) names = "SHA256";
  if (packageSignature) names += names.empty() ? "Signature" : ",Signature";
  return names.empty() ? "none" : names;
}

void TUpdateForm::ReadProductManifest() {
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::FileExists(file)) return;
  std::vector<std::string>& notes = controls[ControlId::mmo1].lines;
  IXMLDocumentRef doc = OpenXmlDocumentFile(file, false, false);
  notes.clear();
  notes.push_back(platform::FormatText(tx::kReleaseNotesHeading, regionName));
  // Every matching entry is applied: the last one's values stand, and the
  // release notes of all of them follow one another.
  for (const TManifestEntry& entry : ReadManifestEntries(doc)) {
    if (!ManifestNameMatches(entry.name, regionName)) continue;
    latestVersion = entry.version;
    packagePath = entry.versionPath;
    mustUpdate = entry.mustUpdate;
    packageSha256 = entry.sha256;
    packageSignature = entry.signature;
    rolloutPercent = entry.rollout;
    notes.insert(notes.end(), entry.notes.begin(), entry.notes.end());
  }
}

void TUpdateForm::ReadTemplateManifest() {
  const std::string file = GetWorkingFolder() + "Version.xml";
  if (!platform::FileExists(file)) return;
  IXMLDocumentRef doc = OpenXmlDocumentFile(file, false, false);
  for (const TManifestEntry& entry : ReadManifestEntries(doc)) {
    if (!ManifestNameMatches(entry.name, TemplateArgument())) continue;
    // The first matching entry wins.
    latestVersion = entry.version;
    packagePath = entry.versionPath;
    templateName = entry.name;
    packageSha256 = entry.sha256;
    packageSignature = entry.signature;
    templateVersion = latestVersion;
    return;
  }
}

int32_t TUpdateForm::ReadInstalledVersion() const {
  int32_t version = platform::ReadProfileInt(configFile, regionName, "CurVersion", 0);
  if (version == 0) version = platform::ReadProfileInt(configFile, "Version", "CurVersion", 0);
  return version;
}

TCheckResult TUpdateForm::CheckTemplateUpdate() {
  lastCheckError.clear();
  manifestRefused = false;
  try {
    const std::string url = BuildSampleTextUrl(false, "Version.xml", "");
    if (!ReachServer(url)) return TCheckResult::CheckFailed;
    FetchManifest(url);
    ReadTemplateManifest();
    const int32_t installed = GetInstalledTemplateVersion();
    Log(platform::FormatText("template name=%s installed=%d published=%d path=%s integrity=%s",
                             templateName.empty() ? TemplateArgument() : templateName, installed,
                             templateVersion, packagePath, IntegrityAttributes()));
    return installed < templateVersion ? TCheckResult::UpdateAvailable : TCheckResult::UpToDate;
  } catch (const EManifestRefused& e) {
    lastCheckError = e.what();
    manifestRefused = true;
    return TCheckResult::CheckFailed;
  } catch (const std::exception& e) {
    lastCheckError = e.what();
    return TCheckResult::CheckFailed;
  }
}

int32_t TUpdateForm::GetInstalledTemplateVersion() {
  if (const TProduct* product = ProductOfKind(GetProductKind()))
    localTemplatePath =
        ExeFolder() + product->sampleTextKind.str() + platform::PathDelim + templateName + ".sfwb";

  if (localTemplatePath.empty() || !platform::FileExists(localTemplatePath)) return 0;
  const std::string value = ReadTemplateVersionText(localTemplatePath);
  return value.empty() ? 0 : StrToInt(value);
}

// Construction and creation of the update window, and the values derived from
// the command line and the configuration files beside the executable.
#include "app/TemplateFile.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ProductTable.h"
#include "common/ZorvaFileUtils.h"
#include "platform/FileSystem.h"
#include "platform/GbkText.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/TextFormat.h"

#include <utility>

namespace {

namespace tx = updatetexts;

constexpr int kConfigHeightReduction = 370;

// Whether `path` ends in the folder delimiter. The second byte of a
// double-byte character may be 0x5C, the Windows delimiter, and is none.
bool EndsWithDelimiter(const std::string& path) {
  bool delimiter = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    delimiter = path[i] == platform::PathDelim;
    if (platform::IsGbkLeadByte(c) && i + 1 < path.size()) ++i;
  }
  return delimiter;
}

std::string Argument(const std::vector<std::string>& args, size_t index) {
  return index < args.size() ? args[index] : std::string();
}

// `part` as one segment of a URL path: every byte but RFC 3986's unreserved
// characters percent-encoded, GBK bytes too, so that a blank, '%', '#', '?'
// or '/' in a name reaches the server as part of that name.
std::string EncodeUrlSegment(const std::string& part) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : part) {
    const auto b = static_cast<unsigned char>(c);
    const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                            (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    }
  }
  return out;
}

std::string AppendUrlPart(std::string url, const std::string& part) {
  if (!part.empty()) {
    url += '/';
    url += EncodeUrlSegment(part);
  }
  return url;
}

} // namespace

TUpdateForm::TUpdateForm(std::vector<std::string> args)
    : TUpdateForm(std::move(args), GetExeFolder()) {}

TUpdateForm::TUpdateForm(std::vector<std::string> args, std::string exeFolder)
    : exeFolder_(std::move(exeFolder)), firstArg_(Argument(args, 0)),
      templateArg_(Argument(args, 1)) {
  Construct();
}

TUpdateForm::~TUpdateForm() {
  progressCallback = nullptr;
  // The client goes first: its connection may still be writing into the file.
  httpClient.reset();
  downloadFile.reset();
}

void TUpdateForm::Construct() {
  configFile = exeFolder_ + "VersionCfg.ini";
  runLog.Open(LogFileCandidates());
  if (!platform::FileExists(configFile)) return; // only pnlMain's caption shows

  controls.clientHeight -= kConfigHeightReduction;
  controls[ControlId::pnl2].visible = true;
  if (!IsSampleTextMode()) controls.tmUpdate.enabled = true;
}

void TUpdateForm::FormCreate() {
  const std::string shFile = exeFolder_ + "SH.ini";
  const std::string regionFile = exeFolder_ + "Region.ini";
  const bool hasSh = platform::FileExists(shFile);
  const bool hasRegion = platform::FileExists(regionFile);

  if (hasSh) regionName = tx::kShanghai;
  if (hasRegion) regionName = ReadRegionName(regionFile);
  LogStart();
  if (!hasRegion && !hasSh) return; // the timer, if started, does the check

  if (!IsSampleTextMode()) {
    switch (CheckProductUpdate()) {
    case TCheckResult::CheckFailed:
      ReportFailure(lastCheckError, TExitStatus::Error);
      PostEndRequest();
      break;
    case TCheckResult::UpToDate:
      PostEndRequest();
      break;
    case TCheckResult::UpdateAvailable:
      break; // the window shows and the first timer tick repeats the check
    }
    return;
  }

  if (RefuseInvalidArguments()) {
    PostEndRequest();
    return;
  }

  switch (CheckTemplateUpdate()) {
  case TCheckResult::CheckFailed:
    ReportFailure(lastCheckError, TExitStatus::Error);
    break;
  case TCheckResult::UpToDate:
    break;
  case TCheckResult::UpdateAvailable:
    RefreshTemplate();
    break;
  }
  PostEndRequest();
}

void TUpdateForm::RefreshTemplate() {
  const std::string downloaded = GetWorkingFolder() + templateName + ".sfwb";
  bool complete = false;
  try {
    complete = DownloadTemplate();
  } catch (const EPackageRefused& refused) {
    // The file is gone; the installed template stays as it was.
    ReportFailure(refused.what(), TExitStatus::Refused);
    return;
  }
  if (!complete) {
    // A slow transfer that the user declined ends the run as asked.
    if (!EndRequested()) ReportFailure(IncompleteTransferText(downloaded), TExitStatus::Error);
    return;
  }
  // The run is silent: a copy that fails ends it like a failed check, with
  // the reason where the administrator reads it.
  if (!platform::CopyFileOverwrite(downloaded, localTemplatePath)) {
    ReportFailure(platform::FormatText(tx::kFileWriteFailed, localTemplatePath),
                  TExitStatus::Error);
    return;
  }
  // A finished refresh leaves nothing to resume: the next version, whatever
  // its size, starts from its first byte.
  platform::DeleteFile(downloaded);
  platform::DeleteFile(DownloadRecordFile(downloaded));
  WriteDoneSize(0);
  Log("template installed " + localTemplatePath);
}

bool TUpdateForm::IsSampleTextMode() const {
  return !platform::TrimBlanksAndControls(templateArg_).empty();
}

std::string TUpdateForm::GetProductKind() const {
  if (const TProduct* product = ProductOfSwitch(firstArg_)) return product->kind;
  return platform::ReadProfileString(configFile, "Version", "TenderKind", "");
}

std::string TUpdateForm::GetSampleTextKind() const {
  if (const TProduct* product = ProductOfSwitch(firstArg_)) return product->sampleTextKind;
  // No key names the sample-text folders, so the configured product picks
  // its own; an unknown product has none.
  const TProduct* product = ProductOfKind(GetProductKind());
  return product ? product->sampleTextKind.str() : std::string();
}

std::string TUpdateForm::GetProductExeName() const {
  const TProduct* product = ProductOfKind(GetProductKind());
  return product ? product->exeName : std::string();
}

std::string TUpdateForm::GetInstallValueName() const {
  // The key's unnamed value for an unknown product.
  const TProduct* product = ProductOfKind(GetProductKind());
  return product ? product->installFolderValue : std::string();
}

std::string TUpdateForm::GetInstallFolder() const {
  std::optional<std::string> value =
      platform::ReadRegistryString(tx::kInstallKey, GetInstallValueName());
  if (!value) return {};
  // An installer may have registered a Windows drive path.
  std::string folder = platform::MapDrivePath(*value);
  if (!EndsWithDelimiter(folder)) folder += platform::PathDelim;
  return folder;
}

std::string TUpdateForm::ReadRegionName(const std::string& path) const {
  return platform::ReadProfileString(path, "Region", "Region", "0");
}

std::string TUpdateForm::BuildProductUrl(bool useCdn, const std::string& folder,
                                         const std::string& fileName) const {
  return BuildUrl(useCdn, GetProductKind(), folder, fileName);
}

std::string TUpdateForm::BuildSampleTextUrl(bool useCdn, const std::string& folder,
                                            const std::string& fileName) const {
  return BuildUrl(useCdn, GetSampleTextKind(), folder, fileName);
}

std::string TUpdateForm::BuildUrl(bool useCdn, const std::string& kind, const std::string& folder,
                                  const std::string& fileName) const {
  std::string url =
      platform::ReadProfileString(configFile, "HTTP", useCdn ? "URLUseCDN" : "URLWithnotCDN", "");
  url += EncodeUrlSegment(kind);
  return AppendUrlPart(AppendUrlPart(url, folder), fileName);
}

bool TUpdateForm::RefuseInvalidArguments() {
  if (!IsSampleTextMode()) return false;
  // The name becomes a file name and a URL: nothing is asked or written for
  // one that is no plain file name.
  try {
    CheckTemplateName(TemplateArgument());
    return false;
  } catch (const EInvalidArgument& invalid) {
    ReportFailure(invalid.what(), TExitStatus::InvalidArguments);
    return true;
  }
}

std::string TUpdateForm::WorkingFolderName() const {
  // Without a temporary folder this is "/MQTUpdate" at the root.
  return GetTempFolder() + platform::PathDelim + "MQTUpdate";
}

std::string TUpdateForm::GetWorkingFolder() const {
  const std::string folder = WorkingFolderName();
  platform::ForcePrivateDirectory(folder);
  return folder + platform::PathDelim;
}

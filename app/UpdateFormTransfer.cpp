// The package transfer: the installer or a template, downloaded into the
// working folder with resume, progress and the speed display.
//
// Resume. [HTTP] DoneSize in VersionCfg.ini counts the bytes of the package
// that lie in the local file; the client's work event rewrites it as bytes
// arrive, always after the bytes it counts are in the file. A new attempt
// starts 40000 bytes before that count (the back-off: the last bytes written
// before a crash may not have reached the disk) and asks the server for the
// rest with a range request.
//
// Traps:
// - DoneSize is one value for whatever package lies in the working folder,
//   not tied to a name or a version. It may be ahead of the local file (it
//   came from another package, or the file was cut), so the resume offset is
//   never beyond the file's size: writing there would leave a gap of
//   undefined bytes in the installer. A local file longer than the new
//   package is another package's: it is fetched from the start.
// - A server may ignore the range and send the whole package (status 200).
//   The client then writes it from the file's start, and the bytes are
//   counted from 0.
// - A file left longer by another version is cut where the written data
//   ends, or every later attempt would end with the wrong size.
// - DoneSize and the progress are 32-bit: a package of 2 GiB or more is
//   refused before any of its bytes is written.
// - The speed display divides by the time since the first work event of the
//   transfer; an event at the same instant shows nothing.
// - A whole file that fails the checks its manifest entry asks for
//   (PackageCheck.h) must not be resumed: it is deleted and DoneSize set to
//   0, since a resume would keep its bad bytes before the back-off.
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/TextFormat.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

namespace tx = updatetexts;

constexpr int64_t kResumeBackOff = 40000;
constexpr int kDialogYes = 6;
constexpr double kSecondsPerDay = 86400.0;
// The slow threshold: 10 units of 2^30 bytes per day, about 121.4 KiB/s.
constexpr double kSlowBytesPerSecond = 10.0 * 1073741824.0 / kSecondsPerDay;
constexpr double kSlowPeriodSeconds = 20.0;

} // namespace

bool TUpdateForm::DownloadPackage(std::function<void(int32_t)> callback) {
  progressCallback = std::move(callback);
  const std::string installer = GetProductKind() + ".exe";
  switch (Transfer(GetWorkingFolder() + installer, BuildProductUrl(true, packagePath, installer),
                   true)) {
  case TTransferResult::Incomplete:
    return false;
  case TTransferResult::Complete:
    return true;
  case TTransferResult::Corrupt:
    throw EPackageRefused(tx::kPackageCorrupt);
  case TTransferResult::BadSignature:
    throw EPackageRefused(tx::kSignatureInvalid);
  }
  return false;
}

bool TUpdateForm::DownloadTemplate() {
  const std::string file = templateName + ".sfwb";
  return Transfer(GetWorkingFolder() + file, BuildSampleTextUrl(true, packagePath, file), false) ==
         TTransferResult::Complete;
}

TUpdateForm::TTransferResult TUpdateForm::Transfer(const std::string& localFile,
                                                   const std::string& url, bool installer) {
  // The check serves this transfer only; the work events feed it.
  struct CheckScope {
    std::unique_ptr<TPackageCheck>& check;
    ~CheckScope() { check.reset(); }
  } scope{packageCheck};
  packageCheck = std::make_unique<TPackageCheck>(
      packageSha256, packageSignature,
      platform::ReadProfileString(configFile, "Security", "PublicKey", ""), localFile);
  if (!packageCheck->Active()) packageCheck.reset();

  if (!Receive(localFile, url, installer)) return TTransferResult::Incomplete;
  if (!packageCheck) return TTransferResult::Complete;
  const TPackageFault fault = packageCheck->Verify();
  if (fault == TPackageFault::None) return TTransferResult::Complete;
  // Nothing of a refused file may be resumed or installed.
  platform::DeleteFile(localFile);
  WriteDoneSize(0);
  return fault == TPackageFault::BadSignature ? TTransferResult::BadSignature
                                              : TTransferResult::Corrupt;
}

bool TUpdateForm::Receive(const std::string& localFile, const std::string& url, bool installer) {
  // Whatever happens below, the transfer's resources go and the speed label
  // hides again.
  struct Cleanup {
    TUpdateForm& form;
    bool installer;
    ~Cleanup() {
      if (installer) {
        form.controls[ControlId::lblShow].visible = false;
        form.RepaintControl(ControlId::lblShow);
        form.progressCallback = nullptr;
      }
      form.httpClient.reset();
      form.downloadFile.reset();
    }
  } cleanup{*this, installer};

  if (httpClient && httpClient->Connected()) httpClient->Disconnect();
  httpClient.reset();
  downloadFile.reset();
  httpClient = std::make_unique<platform::THttpClient>();

  if (platform::FileExists(localFile)) {
    downloadFile = std::make_unique<TFileStream>(localFile, fmOpenWrite);
  } else {
    downloadFile = std::make_unique<TFileStream>(localFile, fmCreate);
    WriteDoneSize(0);
  }

  httpClient->SetHandleRedirects(true);
  httpClient->SetOnWork([this](platform::THttpClient& sender, int64_t workCount) {
    TransferWork(sender, workCount);
  });
  // The HEAD gets the limits too: a server that accepts and never answers
  // must not hold the window for ever.
  httpClient->SetConnectTimeout(limits.transferMs);
  httpClient->SetReadTimeout(limits.transferMs);
  baselineCount = 0;
  slowSince = 0;

  const int64_t fileSize = downloadFile->GetSize();
  resumeOffset = std::clamp<int64_t>(ReadDoneSize() - kResumeBackOff, 0, fileSize);
  downloadFile->SetPosition(resumeOffset);

  if (packagePath.empty()) return false;

  httpClient->Head(url);
  totalSize = httpClient->ContentLength();
  if (totalSize > std::numeric_limits<int32_t>::max())
    throw Exception(platform::FormatText(tx::kPackageTooLarge, static_cast<long long>(totalSize)));
  if (totalSize >= 0 && resumeOffset > totalSize) {
    resumeOffset = 0;
    downloadFile->SetPosition(0);
  }

  httpClient->SetRange(platform::FormatText("%lld-%lld",
                                            static_cast<long long>(downloadFile->GetPosition()),
                                            static_cast<long long>(totalSize)));
  httpClient->SetConnectTimeout(limits.transferMs);
  httpClient->SetReadTimeout(limits.transferMs);

  if (installer) controls[ControlId::lblShow].visible = true;

  httpClient->Get(url, *downloadFile);
  downloadFile->SetSize64(downloadFile->GetPosition());
  return downloadFile->GetSize() == totalSize;
}

void TUpdateForm::TransferWork(platform::THttpClient& sender, int64_t workCount) {
  if (!sender.Connected()) return;
  // A server that ignored the range started the file anew.
  resumeOffset = sender.BodyOffset();
  receivedSize = static_cast<int32_t>(static_cast<uint32_t>(resumeOffset + workCount));
  WriteDoneSize(receivedSize);
  if (packageCheck) packageCheck->Advance(resumeOffset + workCount);
  if (progressCallback) progressCallback(GetProgressPercent());
  ShowTransferSpeed(workCount);
}

int32_t TUpdateForm::GetProgressPercent() const {
  if (totalSize <= 0) return 0;
  const double percent =
      std::nearbyint(static_cast<double>(receivedSize) / static_cast<double>(totalSize) * 100.0);
  return static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
}

void TUpdateForm::ShowTransferSpeed(int64_t workCount) {
  const TDateTime now = Now();
  if (baselineCount == 0) {
    baselineCount = workCount;
    transferStartTime = now;
    return;
  }
  const double seconds = (now - transferStartTime) * kSecondsPerDay;
  if (seconds <= 0) return;
  const double bytesPerSecond =
      static_cast<double>(std::llabs(workCount - baselineCount)) / seconds;
  controls[ControlId::lblShow].caption =
      platform::FormatText(tx::kSpeedText, bytesPerSecond / 1024.0);
  RepaintControl(ControlId::lblShow);

  if (bytesPerSecond >= kSlowBytesPerSecond) {
    slowSince = 0;
    return;
  }
  if (slowSince == 0) slowSince = now;
  lastSpeedCheck = now;
  if ((lastSpeedCheck - slowSince) * kSecondsPerDay <= kSlowPeriodSeconds) return;
  if (Confirm(tx::kSlowQuestion) == kDialogYes) {
    slowSince = 0;
    return;
  }
  if (httpClient) httpClient->Disconnect();
  PostEndRequest();
}

int64_t TUpdateForm::ReadDoneSize() const {
  return platform::ReadProfileInt(configFile, "HTTP", "DoneSize", 0);
}

void TUpdateForm::WriteDoneSize(int64_t value) {
  // A count that cannot be saved would make the next run resume on bytes it
  // knows nothing of; the transfer stops instead.
  if (!platform::WriteProfileString(
          configFile, "HTTP", "DoneSize",
          std::to_string(static_cast<int32_t>(static_cast<uint32_t>(value)))))
    throw EFOpenError(platform::FormatText(tx::kFileWriteFailed, configFile));
}

std::string TUpdateForm::IncompleteTransferText(const std::string& localFile) const {
  if (packagePath.empty()) return tx::kNoPackagePath;
  return platform::FormatText(tx::kTransferIncomplete,
                              static_cast<long long>(platform::FileSize(localFile)),
                              static_cast<long long>(totalSize));
}

void TUpdateForm::SetProgressPosition(int32_t percent) {
  controls[ControlId::pbUpdate].position = std::clamp(percent, 0, 100);
  RepaintControl(ControlId::pbUpdate);
}

TDateTime TUpdateForm::Now() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count() / kSecondsPerDay;
}

void TUpdateForm::RepaintControl(ControlId id) {
  if (View()) View()->Repaint(id);
}

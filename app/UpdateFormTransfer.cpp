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
// Which file the bytes belong to. DoneSize is one value for whatever lies in
// the working folder, not tied to a name or a version, so it alone must
// never decide a resume. Beside the local file lies its record
// (DownloadRecord.h): the URL, the length and the validator (ETag, else
// Last-Modified) that the HEAD reported when the file was started. The bytes
// are continued only when the HEAD now reports the same; the range then
// carries If-Range with the validator, so that a server whose file changed
// since answers with the whole file, which the client writes from byte 0.
// Anything else (no record, as an older updater leaves, another URL, length
// or validator, a server without validators) empties the file first.
//
// Traps:
// - The order of a fresh start matters to a crash: the old record goes
//   first, then the file is emptied and DoneSize set to 0, and only then is
//   the new record written. A crash in between leaves no record (a start
//   from 0) or an empty file (nothing to resume), never a record that
//   vouches for another file's bytes.
// - DoneSize may be ahead of the local file (the file was cut), so the
//   resume offset is never beyond the file's size: writing there would
//   leave a gap of undefined bytes. An offset at or past the package's end
//   would ask for an empty range; the last 40000 bytes are fetched again
//   instead. A server that refuses the range (416) gets one request for the
//   whole file.
// - A server that ignores If-Range and whose file changed between the HEAD
//   and the GET answers the range with bytes of the new file. The GET's own
//   validator gives it away: the file is emptied and fetched once more.
// - A local file longer than the package is cut where the written data
//   ends, or every later attempt would end with the wrong size.
// - DoneSize and the progress are 32-bit: a package of 2 GiB or more is
//   refused before any of its bytes is written.
// - The speed display divides by the time since the first work event of the
//   transfer; an event at the same instant shows nothing.
// - A whole file that fails the checks its manifest entry asks for
//   (PackageCheck.h) must not be resumed: it is deleted with its record and
//   DoneSize set to 0, since a resume would keep its bad bytes before the
//   back-off.
// - The CDN may fail where the origin, which it mirrors, would answer: the
//   same path is tried there once, and the record decides whether the bytes
//   from the CDN are continued (same length and validator).
#include "app/DownloadRecord.h"
#include "app/TemplateFile.h"
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
using Clock = std::chrono::steady_clock;

constexpr int64_t kResumeBackOff = 40000;
constexpr int kDialogYes = 6;
constexpr int kRangeNotSatisfiable = 416;
constexpr double kSecondsPerDay = 86400.0;
// The slow threshold: 10 units of 2^30 bytes per day, about 121.4 KiB/s.
constexpr double kSlowBytesPerSecond = 10.0 * 1073741824.0 / kSecondsPerDay;
constexpr double kSlowPeriodSeconds = 20.0;

// A folder that the URL would climb out of instead of naming one.
bool IsDotSegment(const std::string& folder) {
  return folder == "." || folder == "..";
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string OrNone(const std::string& text) {
  return text.empty() ? std::string("none") : text;
}

// An HTTP status for the log; "none" when no response came.
std::string StatusText(int status) {
  return status == 0 ? std::string("none") : std::to_string(status);
}

// The failures of the CDN that the origin may not share: no connection,
// silence before the first byte, a missing file, a server error.
bool WorthFallback(const platform::EHttpError& error, int64_t bodyBytes) {
  const int status = error.Status();
  return status == 404 || status >= 500 || (status == 0 && bodyBytes == 0);
}

} // namespace

bool TUpdateForm::DownloadPackage(std::function<void(int32_t)> callback) {
  progressCallback = std::move(callback);
  const std::string installer = GetProductKind() + ".exe";
  switch (Transfer(GetWorkingFolder() + installer, BuildProductUrl(true, packagePath, installer),
                   BuildProductUrl(false, packagePath, installer), true)) {
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
  CheckTemplateName(templateName);
  const std::string file = templateName + ".sfwb";
  const std::string localFile = GetWorkingFolder() + file;
  switch (Transfer(localFile, BuildSampleTextUrl(true, packagePath, file),
                   BuildSampleTextUrl(false, packagePath, file), false)) {
  case TTransferResult::Incomplete:
    return false;
  case TTransferResult::Complete:
    break;
  case TTransferResult::Corrupt:
    throw EPackageRefused(tx::kPackageCorrupt);
  case TTransferResult::BadSignature:
    throw EPackageRefused(tx::kSignatureInvalid);
  }
  // An error page, a portal's answer or an older archive must never replace
  // the installed template; an older one would be fetched on every run.
  const std::optional<int32_t> version = ReadTemplateVersion(localFile);
  const bool fits = version && *version >= templateVersion;
  Log(platform::FormatText("check template file=%s version=%s required=%d result=%s", file,
                           version ? std::to_string(*version) : std::string("none"),
                           templateVersion, fits ? "ok" : "refused"));
  if (!fits) {
    DiscardDownload(localFile);
    throw EPackageRefused(tx::kPackageCorrupt);
  }
  return true;
}

TUpdateForm::TTransferResult TUpdateForm::Transfer(const std::string& localFile,
                                                   const std::string& url,
                                                   const std::string& originUrl, bool installer) {
  // The check serves this transfer only; the work events feed it.
  struct CheckScope {
    std::unique_ptr<TPackageCheck>& check;
    ~CheckScope() { check.reset(); }
  } scope{packageCheck};

  if (!Receive(localFile, url, originUrl, installer)) return TTransferResult::Incomplete;
  const TPackageFault fault = packageCheck ? packageCheck->Verify() : TPackageFault::None;
  Log(platform::FormatText("check package file=%s integrity=%s result=%s", localFile,
                           IntegrityAttributes(),
                           fault == TPackageFault::None      ? "ok"
                           : fault == TPackageFault::Corrupt ? "corrupt"
                                                             : "bad-signature"));
  if (fault == TPackageFault::None) return TTransferResult::Complete;
  // Nothing of a refused file may be resumed or installed.
  DiscardDownload(localFile);
  return fault == TPackageFault::BadSignature ? TTransferResult::BadSignature
                                              : TTransferResult::Corrupt;
}

void TUpdateForm::StartPackageCheck(const std::string& localFile) {
  packageCheck = std::make_unique<TPackageCheck>(
      packageSha256, packageSignature,
      platform::ReadProfileString(configFile, "Security", "PublicKey", ""), localFile);
  if (!packageCheck->Active()) packageCheck.reset();
}

void TUpdateForm::DiscardDownload(const std::string& localFile) {
  platform::DeleteFile(localFile);
  platform::DeleteFile(DownloadRecordFile(localFile));
  WriteDoneSize(0);
}

bool TUpdateForm::Receive(const std::string& localFile, const std::string& url,
                          const std::string& originUrl, bool installer) {
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
  if (packagePath.empty() || IsDotSegment(packagePath)) return false;

  httpClient = std::make_unique<platform::THttpClient>();
  httpClient->SetHandleRedirects(true);
  httpClient->SetOnWork([this](platform::THttpClient& sender, int64_t workCount) {
    TransferWork(sender, workCount);
  });
  // The HEAD gets the limits too: a server that accepts and never answers
  // must not hold the window for ever.
  httpClient->SetConnectTimeout(limits.transferMs);
  httpClient->SetReadTimeout(limits.transferMs);

  const bool fallback =
      originUrl != url && platform::ReadProfileInt(configFile, "HTTP", "CDNFallback", 1) != 0;
  try {
    return ReceiveFrom(localFile, url, originUrl, installer);
  } catch (const platform::EHttpError& error) {
    if (!fallback || !WorthFallback(error, httpClient->BodyBytes())) throw;
    Log(platform::FormatText("fallback from=%s to=%s reason=%s", UrlForLog(url),
                             UrlForLog(originUrl), error.what()));
  }
  downloadFile.reset();
  return ReceiveFrom(localFile, originUrl, url, installer);
}

bool TUpdateForm::ReceiveFrom(const std::string& localFile, const std::string& url,
                              const std::string& sameResourceUrl, bool installer) {
  // The second attempt starts the file afresh; it follows a refused range
  // or bytes of another version.
  for (int attempt = 0;; ++attempt) {
    httpClient->SetRange("");
    httpClient->SetIfRange("");
    Clock::time_point start = Clock::now();
    try {
      httpClient->Head(url);
    } catch (const platform::EHttpError& error) {
      Log(platform::FormatText("head failed url=%s status=%s seconds=%.3f error=%s", UrlForLog(url),
                               StatusText(error.Status()), SecondsSince(start), error.what()));
      throw;
    }
    totalSize = httpClient->ContentLength();
    // The record keeps no credentials: they do not name the file.
    const TDownloadRecord now{UrlForLog(url), totalSize,
                              ChooseValidator(httpClient->ETag(), httpClient->LastModified())};
    Log(platform::FormatText("head url=%s status=%d length=%lld etag=%s last-modified=%s",
                             UrlForLog(url), httpClient->ResponseCode(),
                             static_cast<long long>(totalSize), OrNone(httpClient->ETag()),
                             OrNone(httpClient->LastModified())));
    if (totalSize > std::numeric_limits<int32_t>::max())
      throw Exception(
          platform::FormatText(tx::kPackageTooLarge, static_cast<long long>(totalSize)));

    PrepareLocalFile(localFile, now, UrlForLog(sameResourceUrl), attempt > 0);
    StartPackageCheck(localFile);
    const int64_t requested = resumeOffset;
    const int64_t localSize = downloadFile->GetSize();
    const std::string ifRange = requested > 0 ? now.validator : std::string();
    // Without a length there is nothing to resume, and no range to ask for.
    httpClient->SetRange(totalSize < 0
                             ? std::string()
                             : platform::FormatText("%lld-%lld", static_cast<long long>(requested),
                                                    static_cast<long long>(totalSize)));
    httpClient->SetIfRange(ifRange);
    httpClient->SetConnectTimeout(limits.transferMs);
    httpClient->SetReadTimeout(limits.transferMs);
    if (installer) controls[ControlId::lblShow].visible = true;
    baselineCount = 0;
    slowSince = 0;
    loggedProgressTenths_ = 0;

    auto logDownload = [&](const char* outcome, int status, const std::string& error) {
      const double seconds = SecondsSince(start);
      const int64_t bytes = httpClient->BodyBytes();
      Log(platform::FormatText(
          "download%s url=%s local=%lld resume=%lld if-range=%s status=%s bytes=%lld "
          "seconds=%.3f speed=%.1fKiB/s%s",
          outcome, UrlForLog(url), static_cast<long long>(localSize),
          static_cast<long long>(requested), OrNone(ifRange), StatusText(status),
          static_cast<long long>(bytes), seconds,
          seconds > 0 ? static_cast<double>(bytes) / 1024.0 / seconds : 0.0,
          error.empty() ? std::string() : " error=" + error));
    };
    start = Clock::now();
    try {
      httpClient->Get(url, *downloadFile);
    } catch (const platform::EHttpError& error) {
      logDownload(" failed", error.Status() != 0 ? error.Status() : httpClient->ResponseCode(),
                  error.what());
      if (error.Status() == kRangeNotSatisfiable && attempt == 0) {
        Log("restart reason=range-refused");
        continue;
      }
      throw;
    }
    logDownload("", httpClient->ResponseCode(), "");
    downloadFile->SetSize64(downloadFile->GetPosition());

    // A range from a file that is no longer the one the record names.
    const std::string served = ChooseValidator(httpClient->ETag(), httpClient->LastModified());
    if (requested > 0 && httpClient->BodyOffset() > 0 && !served.empty() &&
        served != now.validator && attempt == 0) {
      Log(platform::FormatText("restart reason=changed-during-transfer validator=%s", served));
      continue;
    }
    return downloadFile->GetSize() == totalSize;
  }
}

void TUpdateForm::PrepareLocalFile(const std::string& localFile, const TDownloadRecord& now,
                                   const std::string& sameResourceUrl, bool restart) {
  downloadFile.reset();
  const int64_t fileSize = platform::FileSize(localFile);
  const char* refusal = restart ? "restart"
                        : fileSize < 0
                            ? "no-file"
                            : ResumeRefusal(ReadDownloadRecord(localFile), now, sameResourceUrl);
  if (refusal == nullptr) {
    downloadFile = std::make_unique<TFileStream>(localFile, fmOpenWrite);
    resumeOffset = std::clamp<int64_t>(ReadDoneSize() - kResumeBackOff, 0, fileSize);
    // An empty range would be refused: the end of a whole file comes again.
    if (resumeOffset >= totalSize) resumeOffset = std::max<int64_t>(totalSize - kResumeBackOff, 0);
    downloadFile->SetPosition(resumeOffset);
    Log(platform::FormatText("resume file=%s local=%lld offset=%lld validator=%s", localFile,
                             static_cast<long long>(fileSize), static_cast<long long>(resumeOffset),
                             now.validator));
    return;
  }
  Log(platform::FormatText("restart file=%s local=%s reason=%s", localFile,
                           fileSize < 0 ? std::string("none") : std::to_string(fileSize), refusal));
  const std::string recordFile = DownloadRecordFile(localFile);
  if (!platform::DeleteFile(recordFile) && platform::FileExists(recordFile))
    throw EFOpenError(platform::FormatText(tx::kFileWriteFailed, recordFile));
  downloadFile = std::make_unique<TFileStream>(localFile, fmCreate);
  WriteDoneSize(0);
  if (!WriteDownloadRecord(localFile, now))
    throw EFOpenError(platform::FormatText(tx::kFileWriteFailed, recordFile));
  resumeOffset = 0;
}

void TUpdateForm::TransferWork(platform::THttpClient& sender, int64_t workCount) {
  if (!sender.Connected()) return;
  // A server that ignored the range started the file anew.
  resumeOffset = sender.BodyOffset();
  receivedSize = static_cast<int32_t>(static_cast<uint32_t>(resumeOffset + workCount));
  WriteDoneSize(receivedSize);
  if (packageCheck) packageCheck->Advance(resumeOffset + workCount);
  LogProgress();
  if (progressCallback) progressCallback(GetProgressPercent());
  ShowTransferSpeed(workCount);
}

void TUpdateForm::LogProgress() {
  const int32_t tenths = GetProgressPercent() / 10;
  if (tenths <= loggedProgressTenths_) return;
  loggedProgressTenths_ = tenths;
  Log(platform::FormatText("progress percent=%d bytes=%d", tenths * 10, receivedSize));
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
  if (IsDotSegment(packagePath)) return platform::FormatText(tx::kBadPackagePath, packagePath);
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

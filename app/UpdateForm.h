#pragma once
// TUpdateForm, the updater's one window: its run-time state, the start-up that
// settles the run mode, and the values derived from the command line and the
// configuration files beside the executable. The window's controls are the
// model in FormControls.h; an on-screen view, when one is shown, mirrors them.
//
// Members are split into files by concern: UpdateFormStartup.cpp (construction,
// FormCreate, configuration), UpdateFormChecks.cpp (the manifest and the
// update checks), UpdateFormTransfer.cpp (the package download with resume
// and its progress), UpdateFormInstall.cpp (installation and the
// running-product guard), UpdateFormWindow.cpp (the window's handlers, closing
// and the end request).
#include "app/DownloadRecord.h"
#include "app/ExitStatus.h"
#include "app/FormControls.h"
#include "app/PackageCheck.h"
#include "app/RunLog.h"
#include "platform/Exception.h"
#include "platform/HttpClient.h"
#include "platform/Process.h"
#include "platform/Stream.h"
#include "platform/StringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The outcome of an update check.
enum class TCheckResult : int { CheckFailed = 1, UpdateAvailable = 2, UpToDate = 3 };

// Days since 1899-12-30 as a double, the date-time of the transfer bookkeeping.
using TDateTime = double;

// How long the network may keep the updater waiting, in milliseconds.
struct TTimeLimits {
  // The reachability test before a manifest download.
  int reachMs = 6000;
  // A manifest download: connecting, and the whole request.
  int checkConnectMs = 6000;
  int checkTotalMs = 30000;
  // A package download: connecting, and the longest wait for the next bytes.
  int transferMs = 6000;
};

// What the window tells its on-screen view. A form without a view (start-up
// that ends before showing, tests) keeps working on its model alone.
class TFormView {
public:
  virtual ~TFormView() = default;
  // Draw the control (or, for nullopt, the whole window) now, not at the next
  // idle moment: the caller is about to block the window's thread.
  virtual void Repaint(std::optional<ControlId> control) = 0;
  // Take the window off the screen; the message loop then ends.
  virtual void CloseWindow() = 0;
};

class TUpdateForm {
public:
  // `args` are the command-line arguments after the program name, in ANSI.
  // The configuration files are looked up in the executable's folder.
  explicit TUpdateForm(std::vector<std::string> args);
  // The same with the configuration folder given (with trailing delimiter).
  TUpdateForm(std::vector<std::string> args, std::string exeFolder);
  virtual ~TUpdateForm();
  TUpdateForm(const TUpdateForm&) = delete;
  TUpdateForm& operator=(const TUpdateForm&) = delete;

  // The creation event: settles the region and runs the silent check or the
  // template refresh. Posts the end request when the run is over; an error of
  // the template download propagates and leaves the end request unposted.
  void FormCreate();

  // Start-up and configuration.
  std::string GetProductKind() const;
  std::string GetSampleTextKind() const;
  std::string GetProductExeName() const;
  // The install folder from the registry, with trailing delimiter; empty when
  // the key does not exist.
  std::string GetInstallFolder() const;
  // [Region] Region of the ini file `path`, "0" when missing.
  std::string ReadRegionName(const std::string& path) const;
  std::string BuildProductUrl(bool useCdn, const std::string& folder,
                              const std::string& fileName) const;
  std::string BuildSampleTextUrl(bool useCdn, const std::string& folder,
                                 const std::string& fileName) const;
  // The URL both builders make: the base, then `kind`, `folder` and
  // `fileName` each percent-encoded and, when not empty, after a slash.
  std::string BuildUrl(bool useCdn, const std::string& kind, const std::string& folder,
                       const std::string& fileName) const;
  // The working folder in the temporary folder, with trailing delimiter. It is
  // created (mode 0700) on every call; raises Exception when it exists as a
  // symbolic link or belongs to another user.
  std::string GetWorkingFolder() const;
  // The working folder's path without a trailing delimiter; nothing is made.
  std::string WorkingFolderName() const;
  // Sample-text mode with a template name that cannot name a file: reports
  // it (status 4) and returns true. Nothing is read or written.
  bool RefuseInvalidArguments();

  // Sample-text mode: the second argument is not blank.
  bool IsSampleTextMode() const;
  const std::string& ExeFolder() const { return exeFolder_; }
  // The second argument as given, untrimmed (the manifest is matched with it).
  const std::string& TemplateArgument() const { return templateArg_; }

  // The update checks and the template download. They are virtual so that the
  // start-up can be driven with other outcomes. The checks never raise: every
  // error makes them report CheckFailed.
  virtual TCheckResult CheckProductUpdate();
  virtual TCheckResult CheckTemplateUpdate();
  // Fill the fields from the manifest saved in the working folder; nothing
  // happens when there is none. Raise when it is not well-formed.
  void ReadProductManifest();
  void ReadTemplateManifest();
  // CurVersion of the region's section, or of [Version] when that gives 0.
  int32_t ReadInstalledVersion() const;
  // [Region] Version of the installed template's archive comment; 0 when the
  // file, the comment or the key is missing or blank. Raises EConvertError
  // when the value is no integer.
  int32_t GetInstalledTemplateVersion();

  // The installer and the template transfers. True when the local file has
  // exactly the size the server announced and passes the checks that the
  // manifest entry and the configuration ask for (PackageCheck.h). Errors of
  // the network and of the file leave the call after the clean-up; the bytes
  // on disk stay counted in DoneSize, and described by the record beside
  // them (DownloadRecord.h), for the next attempt. A request to the CDN that
  // cannot connect, times out before the first byte or is answered 404 or
  // 5xx is made once more on the origin ([HTTP] CDNFallback=0: not). A
  // whole file that fails a check is deleted with its record and DoneSize
  // set to 0, so that the next attempt starts afresh, and EPackageRefused is
  // raised with the text for the user; for a template also when the file is
  // no template of at least the manifest entry's version. DownloadTemplate
  // raises EInvalidArgument for a template name that is no plain file name
  // (TemplateFile.h), before anything is requested.
  bool DownloadPackage(std::function<void(int32_t)> callback);
  virtual bool DownloadTemplate();
  // The client's work event: persist, show progress and speed.
  void TransferWork(platform::THttpClient& sender, int64_t workCount);
  int32_t GetProgressPercent() const;
  void ShowTransferSpeed(int64_t workCount);
  int64_t ReadDoneSize() const;
  void WriteDoneSize(int64_t value);
  void SetProgressPosition(int32_t percent);

  // The clock of the transfer speed, in days; only differences matter. Tests
  // replace it so that they need not wait.
  virtual TDateTime Now() const;
  // The yes/no question with the caption "确认"; returns the dialog result (6
  // for yes). Tests replace it to answer without a display.
  virtual int Confirm(const std::string& text);

  // Installation and the running-product guard.
  //
  // The install action. While the product runs it only shows why it cannot
  // install. Without an installer in the working folder it says so and
  // changes nothing. An installer that is no program this system starts is
  // deleted, DoneSize set to 0 and the offer shown again, with nothing
  // uninstalled. Otherwise it backs up the recent-project list, takes a
  // snapshot of the old version (Reinstall.h; refused with a message when
  // the disk cannot hold it), uninstalls the old version, installs the
  // downloaded one and restores the list. The installer succeeded when it
  // ended with 0 and the product's program lies in the install folder that
  // the registry names then: the working folder goes and the window closes.
  // Otherwise the snapshot is put back, the download kept, and the window
  // says so. A snapshot that could not be put back is put back first at the
  // next press. Raises when an uninstall shortcut cannot be read, a batch
  // file cannot be written, or an earlier snapshot still cannot be put back.
  void acInstallExecute();
  // True when a running process is the program `exeName` (its file name, or
  // its whole text, compared ignoring the case of ASCII letters).
  bool IsProcessRunning(const std::string& exeName) const;
  // Ends every running process of the product's program.
  void TerminateProductProcesses();
  // Copy RecentProject.log from the install folder to the exe folder and
  // back; skipped when no install folder is known. A failed copy is ignored.
  void BackupRecentProjects();
  void RestoreRecentProjects();
  // Writes Uninstall.bat into the working folder, a line per uninstall
  // shortcut of the product in its Start-menu folder, and runs it. Raises
  // when a shortcut cannot be read or the file cannot be written.
  void UninstallOldVersion();
  // The installers in the working folder and its sub-folders: every file
  // named after the product kind with ".exe".
  TStringList ListInstallers() const;
  // Writes install.bat into the working folder, a line per installer, and
  // runs it; returns its exit code, nullopt when it could not be started.
  // Raises when it cannot be written.
  std::optional<uint32_t> InstallPackage();
  // Deletes the working folder with everything in it, waiting a moment for
  // a program that still holds it.
  void RemoveWorkingFolder();
  // The registry value that names the install folder: ZBPath, TBPath, or
  // the key's unnamed value (empty) for another product.
  std::string GetInstallValueName() const;
  // The lock that one updater holds on the working folder for its run: a
  // file beside the folder (platform/InstanceLock.h).
  std::string GetWorkingFolderLock() const;
  // At the start of a run, before anything else writes: finishes or undoes
  // a reinstall that a crash interrupted (ReinstallRecord.h). Raises when
  // the old version cannot be put back; its record stays for the next start.
  void RecoverInterruptedReinstall();
  // The bytes the user may still write on the volume of `folder`, -1 when
  // unknown. Virtual, so that tests can fill the disk.
  virtual int64_t FreeDiskSpace(const std::string& folder) const;

  // The target of a shortcut file; raises when it cannot be read.
  std::string ReadShortcutTarget(const std::string& path) const;
  // Runs the file to its end; its exit code, 0 when it could not start.
  uint32_t RunAndWait(const std::string& path, int32_t showWindow) const;

  // Shows an information text to the user (ShowInformation). Virtual, so
  // that tests can record the texts.
  virtual void ShowInformationText(const std::string& text);
  // The application's error box with `text`. Virtual, so that tests can
  // record the texts.
  virtual void ShowErrorBox(const std::string& text);
  // The running processes. Virtual, so that tests can narrow it to the
  // processes they started themselves.
  virtual std::vector<platform::TProcessEntry> ProcessSnapshot() const;

  // The window's handlers. tmUpdateTimer runs once: the check, then the offer,
  // "up to date" or the network error. acUpdateExecute downloads with
  // progress and, when the file is whole, shows the install prompt; an error
  // of the transfer leaves it and the progress panel stays. A package refused
  // by its checks is told in an information box, and the offer shows again.
  void tmUpdateTimer();
  void acUpdateExecute();
  void acLaterExecute();
  void acCloseExecute();
  // Runs the handler of `action`, the action bound to the button pressed.
  void ExecuteAction(ActionId action);

  // The window's close operation: takes the window off the screen, which ends
  // the program.
  void Close();
  void imgCloseClick();
  // Asks the message loop to end; posted before the loop starts, the window
  // is never shown.
  void PostEndRequest();
  bool EndRequested() const { return endRequested_; }
  bool Closed() const { return closed_; }

  // Every error of the run passes one of these two, so that it is shown or
  // written where someone can read it, kept in the run log, and counted in
  // the run's exit status.
  //
  // ReportError is the application's error box: the box when a display can
  // be used, else the text on standard error. Nothing calls into the window
  // system without a display.
  void ReportError(const std::exception& error);
  // A failure that the window shows in its own way (the network error of a
  // check) or that ends a run without a window (a silent check, a transfer
  // cut short): logged, and written to standard error while no window is
  // shown; no box.
  void ReportFailure(const std::string& text, TExitStatus status);
  // The status the run ends with: that of the latest error reported, or Ok.
  TExitStatus ExitStatus() const { return exitStatus_; }
  // The run has done its job after all (the installation succeeded after a
  // refused download, say).
  void ClearExitStatus() { exitStatus_ = TExitStatus::Ok; }

  // Appends one line to the run log (ANSI text).
  void Log(const std::string& text) { runLog.Write(text); }
  // The start of the run: program version, mode, product, region, installed
  // version and arguments. Called once the region is known.
  void LogStart();

  // The view that shows this form, or nullptr. Not owned.
  void AttachView(TFormView* view) { view_ = view; }
  TFormView* View() const { return view_; }

  TFormControls controls;

  std::string configFile;
  int32_t latestVersion = 0;
  std::string packagePath;
  // The matched entry's SHA256 and Signature attributes; nullopt when it has
  // none.
  std::optional<std::string> packageSha256;
  std::optional<std::string> packageSignature;
  // The matched entry's Rollout, 1 to 100 (100 without one).
  int32_t rolloutPercent = 100;
  // The checks of the running transfer, fed by its work events; none when
  // nothing is to be checked.
  std::unique_ptr<TPackageCheck> packageCheck;
  std::unique_ptr<platform::THttpClient> httpClient;
  std::unique_ptr<TStream> downloadFile;
  std::function<void(int32_t)> progressCallback;
  int64_t resumeOffset = 0;
  int64_t totalSize = 0;
  int32_t receivedSize = 0;
  std::string regionName;
  std::string templateName;
  int32_t mustUpdate = 0;
  int32_t templateVersion = 0;
  std::string localTemplatePath;
  TDateTime transferStartTime = 0;
  int64_t baselineCount = 0;
  TDateTime slowSince = 0;
  TDateTime lastSpeedCheck = 0;

  TTimeLimits limits;

  TRunLog runLog;
  // Why the latest check reported CheckFailed, for the log and the
  // administrator.
  std::string lastCheckError;
  // The latest check failed because the manifest's signature was refused
  // ([Security] ManifestSigned=1).
  bool manifestRefused = false;

private:
  void Construct();
  // Sample-text mode once the check found a newer template: the download,
  // then the copy over the installed template, after which the download and
  // its record are removed and DoneSize is 0. Errors of the download
  // propagate; a refused download, a transfer cut short or a failed copy is
  // reported.
  void RefreshTemplate();
  // GETs a manifest into the working folder's Version.xml.
  void FetchManifest(const std::string& url);
  // The reachability test before a manifest download; false (with the
  // reason in lastCheckError) when the server cannot be reached.
  bool ReachServer(const std::string& manifestUrl);
  // Which integrity attributes the matched entry carries, for the log.
  std::string IntegrityAttributes() const;
  // With [Security] ManifestSigned=1: fetches the manifest's signature file
  // and raises when `manifest` is not signed by the configured key or has
  // expired.
  void VerifyManifestSignature(const std::string& url, std::string_view manifest);
  // Whether the staged rollout offers latestVersion to this machine.
  bool RolloutOffers();
  enum class TTransferResult { Incomplete, Complete, Corrupt, BadSignature };
  // `url` is the package on the CDN, `originUrl` the same path on the
  // origin.
  TTransferResult Transfer(const std::string& localFile, const std::string& url,
                           const std::string& originUrl, bool installer);
  bool Receive(const std::string& localFile, const std::string& url, const std::string& originUrl,
               bool installer);
  // The transfer from one server; `sameResourceUrl` is the package's URL on
  // the other one.
  bool ReceiveFrom(const std::string& localFile, const std::string& url,
                   const std::string& sameResourceUrl, bool installer);
  // Opens the local file for the transfer of `now`: positioned for a resume
  // when its record allows one and `restart` is false, else emptied, with
  // DoneSize 0 and a new record. Sets downloadFile and resumeOffset.
  void PrepareLocalFile(const std::string& localFile, const TDownloadRecord& now,
                        const std::string& sameResourceUrl, bool restart);
  // The package checks of one attempt, or none when nothing is to be checked.
  void StartPackageCheck(const std::string& localFile);
  // Deletes a refused download and its record; DoneSize becomes 0.
  void DiscardDownload(const std::string& localFile);
  // A progress line in the log for every tenth of the package reached.
  void LogProgress();
  // Why a transfer into `localFile` did not end with a whole file.
  std::string IncompleteTransferText(const std::string& localFile) const;
  // Where the run log goes: [Log] File of VersionCfg.ini, else update.log
  // beside the updater, else in the temporary folder.
  std::vector<std::string> LogFileCandidates() const;
  void RepaintControl(ControlId id);

  std::string exeFolder_;
  std::string firstArg_;
  std::string templateArg_;
  bool endRequested_ = false;
  bool closed_ = false;
  // Tenths of the package the log has told of in this request.
  int32_t loggedProgressTenths_ = 0;
  TFormView* view_ = nullptr;
  TExitStatus exitStatus_ = TExitStatus::Ok;
};

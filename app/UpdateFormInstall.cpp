// Installation of the downloaded version and the guard against installing
// while the product runs.
//
// The uninstaller and the installer run through batch files in the working
// folder, one line per program: its path in double quotes, a blank and
// "/quiet", lines ended by CR LF, in ANSI. The reinstall can be undone
// (Reinstall.h): nothing is uninstalled for a download that is no program,
// and a failed installer gets the old version put back.
#include "app/Reinstall.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ProductTable.h"
#include "common/ZorvaFileUtils.h"
#include "common/ZorvaUiUtils.h"
#include "platform/FileSystem.h"
#include "platform/GbkText.h"
#include "platform/Paths.h"
#include "platform/ProgramImage.h"
#include "platform/ShellLink.h"
#include "platform/TextFormat.h"

#include <chrono>
#include <thread>

namespace {

namespace tx = updatetexts;

const char* const kRecentProjects = "RecentProject.log";
const char* const kQuietSwitch = "/quiet";
// The code of a program that could not be started, as the command
// interpreter gives it.
constexpr uint32_t kCannotStart = 9009;

// A '%' in the path is doubled: the command interpreter would otherwise take
// "%NAME%" in a folder name for a variable and start another program.
std::string BatchLine(const std::string& path, const std::string& switches) {
  std::string line = "\"";
  line += platform::EscapeBatchText(path);
  line += "\" ";
  line += switches;
  return line;
}

// The part after the last delimiter. Both slashes count: a Windows program
// run under Wine shows its Windows path as its argv[0].
std::string FileNameOf(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (platform::IsGbkLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;
      continue;
    }
    if (path[i] == '/' || path[i] == '\\') start = i + 1;
  }
  return path.substr(start);
}

// An empty text names no program, also not an empty name.
bool NamesProgram(const std::string& text, const std::string& name) {
  if (text.empty() || name.empty()) return false;
  return platform::SameTextIgnoringAsciiCase(FileNameOf(text), name) ||
         platform::SameTextIgnoringAsciiCase(text, name);
}

bool IsProcessOf(const platform::TProcessEntry& process, const std::string& name) {
  return NamesProgram(process.exeName, name) || NamesProgram(process.exeFile, name);
}

// An install folder where RecentProject.log may be read and written: known,
// and not the root of the file system.
bool IsUsableInstallFolder(const std::string& folder) {
  return folder.find_first_not_of(platform::PathDelim) != std::string::npos;
}

// Every installer must be a program this system starts before anything is
// uninstalled for it. Those that are not are deleted and the offer shows
// again, as for a download that failed its checks. False when one was
// refused.
bool AllInstallersArePrograms(TUpdateForm& form, const TStringList& installers) {
  bool refused = false;
  for (int i = 0; i < installers.Count(); ++i) {
    const auto format = platform::ReadProgramFormat(installers[i]);
    const bool program = format && platform::IsNativeProgramFormat(*format);
    form.Log(platform::FormatText("install check file=%s format=%s result=%s", installers[i],
                                  format ? platform::ProgramFormatName(*format) : "none",
                                  program ? "program" : "refused"));
    if (program) continue;
    platform::DeleteFile(installers[i]);
    refused = true;
  }
  if (!refused) return true;
  form.WriteDoneSize(0);
  form.controls[ControlId::pnl3].visible = false;
  form.controls[ControlId::pbUpdate].position = 0;
  form.controls[ControlId::pnl1].visible = true;
  if (form.View()) form.View()->Repaint(std::nullopt);
  form.ReportFailure(tx::kPackageCorrupt, TExitStatus::Refused);
  form.ShowInformationText(tx::kPackageCorrupt);
  return false;
}

} // namespace

void TUpdateForm::acInstallExecute() {
  const std::string kind = GetProductKind();
  if (IsProcessRunning(GetProductExeName())) {
    ShowInformationText(platform::FormatText(tx::kInstallRefused, kind, kind));
    return;
  }
  // An earlier attempt whose old version could not be put back keeps its
  // record and its snapshot, the only whole copy of that version: it is
  // undone first (raising again when it still cannot be), never replaced by
  // a snapshot of what is left.
  RecoverInterruptedReinstall();
  // Uninstalling with nothing to install would leave the user without the
  // product.
  const TStringList installers = ListInstallers();
  if (installers.Count() == 0) {
    ShowInformationText(tx::kNoInstaller);
    return;
  }
  if (!AllInstallersArePrograms(*this, installers)) return;

  const bool hadInstallFolder = IsUsableInstallFolder(GetInstallFolder());
  BackupRecentProjects();
  TReinstall reinstall(*this);
  if (reinstall.Begin() == TReinstall::TBegin::NoSpace) {
    ReportFailure(tx::kSnapshotNoSpace, TExitStatus::Error);
    ShowInformationText(tx::kSnapshotNoSpace);
    return;
  }
  // The uninstaller's exit code is not examined: uninstallers commonly fail
  // when there was nothing to remove.
  UninstallOldVersion();
  std::string text;
  std::string failedFile;
  if (!reinstall.EnterInstall()) {
    // The snapshot cannot be kept apart from what the installer would
    // write: the old version goes back before any installer runs.
    text = reinstall.Undo(failedFile) ? tx::kSnapshotNoSpace.str()
                                      : platform::FormatText(tx::kRestoreFailed, failedFile);
  } else {
    const std::optional<uint32_t> exitCode = InstallPackage();
    const uint32_t code = exitCode.value_or(kCannotStart);
    // An installer may end with 0 and install nothing: the product's
    // program in the install folder that the registry names now tells.
    const std::string exeName = GetProductExeName();
    const std::string folder = GetInstallFolder();
    const bool checked = !exeName.empty() && IsUsableInstallFolder(folder);
    const bool inPlace = checked ? platform::FileExists(folder + exeName) : !hadInstallFolder;
    const char* executable = exeName.empty()                  ? "unknown-product"
                             : !IsUsableInstallFolder(folder) ? "no-folder"
                             : inPlace                        ? "present"
                                                              : "missing";
    Log(platform::FormatText("install %sexit=%u executable=%s folder=%s",
                             exitCode ? "" : "started=0 ", code, executable, folder));
    if (code == 0 && inPlace) {
      reinstall.MarkInstalled();
      RestoreRecentProjects();
      reinstall.Finish();
      RemoveWorkingFolder();
      Log("installed");
      ClearExitStatus();
      Close();
      return;
    }
    // The downloaded installer stays for the next attempt.
    const auto signedCode = static_cast<int32_t>(code);
    if (!reinstall.HasSnapshot())
      text = platform::FormatText(tx::kInstallFailed, signedCode);
    else if (reinstall.Undo(failedFile))
      text = platform::FormatText(tx::kInstallRestored, signedCode);
    else
      text = platform::FormatText(tx::kRestoreFailed, failedFile);
  }
  RestoreRecentProjects();
  ReportFailure(text, TExitStatus::Error);
  ShowInformationText(text);
}

void TUpdateForm::RemoveWorkingFolder() {
  // The batch runner that just ended may hold the folder a moment longer as
  // its current one (Windows refuses to remove it meanwhile).
  const std::string folder = WorkingFolderName() + platform::PathDelim;
  for (int attempt = 0; attempt < 20 && !DeleteFolderTree(folder); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

bool TUpdateForm::IsProcessRunning(const std::string& exeName) const {
  for (const platform::TProcessEntry& process : ProcessSnapshot())
    if (IsProcessOf(process, exeName)) return true;
  return false;
}

void TUpdateForm::TerminateProductProcesses() {
  // Unlike everywhere else, the kind is compared exactly here: a mandatory
  // update ends only the processes of a kind spelled as the table has it.
  const std::string kind = GetProductKind();
  const TProduct* product = ProductOfKind(kind);
  if (!product || kind != product->kind.str()) return;
  for (const platform::TProcessEntry& process : ProcessSnapshot())
    if (IsProcessOf(process, product->exeName)) platform::TerminateProcess(process, 0);
}

void TUpdateForm::BackupRecentProjects() {
  // Without a known install folder the path would name a file in the current
  // folder or at the root.
  const std::string installFolder = GetInstallFolder();
  if (!IsUsableInstallFolder(installFolder)) return;
  platform::CopyFileOverwrite(installFolder + kRecentProjects, ExeFolder() + kRecentProjects);
}

void TUpdateForm::RestoreRecentProjects() {
  // Read anew: the new installation may have registered another folder.
  const std::string installFolder = GetInstallFolder();
  if (!IsUsableInstallFolder(installFolder)) return;
  platform::CopyFileOverwrite(ExeFolder() + kRecentProjects, installFolder + kRecentProjects);
}

void TUpdateForm::UninstallOldVersion() {
  const std::string exeName = GetProductExeName();
  const std::string startMenu =
      platform::MapDrivePath(platform::FormatText(tx::kStartMenuFolder, GetProductKind()));
  TStringList list;
  ListFilesRecursive(tx::kUninstallPattern, startMenu, &list);
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (exeName.empty() || list[i].find(exeName) == std::string::npos)
      list.Delete(i);
    else
      list[i] = BatchLine(ReadShortcutTarget(list[i]), kQuietSwitch);
  }
  const std::string batchFile = GetWorkingFolder() + "Uninstall.bat";
  list.SaveToFile(batchFile);
  const std::optional<uint32_t> code = platform::TryRunAndWait(batchFile, platform::swHide);
  Log(code ? platform::FormatText("uninstall exit=%u lines=%d", *code, list.Count())
           : platform::FormatText("uninstall started=0 lines=%d", list.Count()));
}

TStringList TUpdateForm::ListInstallers() const {
  TStringList list;
  ListFilesRecursive(GetProductKind() + ".exe", GetWorkingFolder(), &list);
  return list;
}

std::optional<uint32_t> TUpdateForm::InstallPackage() {
  TStringList list = ListInstallers();
  for (int i = 0; i < list.Count(); ++i)
    list[i] = BatchLine(list[i], kQuietSwitch);
  const std::string batchFile = GetWorkingFolder() + "install.bat";
  list.SaveToFile(batchFile);
  return platform::TryRunAndWait(batchFile, platform::swHide);
}

std::string TUpdateForm::ReadShortcutTarget(const std::string& path) const {
  return platform::ReadShortcutTarget(path);
}

uint32_t TUpdateForm::RunAndWait(const std::string& path, int32_t showWindow) const {
  return platform::RunAndWait(path, showWindow);
}

void TUpdateForm::ShowInformationText(const std::string& text) {
  ShowInformation(text);
}

std::vector<platform::TProcessEntry> TUpdateForm::ProcessSnapshot() const {
  return platform::TakeProcessSnapshot();
}

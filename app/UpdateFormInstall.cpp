// Installation of the downloaded version and the guard against installing
// while the product runs.
//
// The uninstaller and the installer run through batch files in the working
// folder, one line per program: its path in double quotes, a blank and
// "/quiet", lines ended by CR LF, in ANSI.
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ZorvaFileUtils.h"
#include "common/ZorvaUiUtils.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/ShellLink.h"
#include "platform/TextFormat.h"

namespace {

namespace tx = updatetexts;

const char* const kRecentProjects = "RecentProject.log";
const char* const kQuietSwitch = "/quiet";

// A '%' in the path is doubled: the command interpreter would otherwise take
// "%NAME%" in a folder name for a variable and start another program.
std::string BatchLine(const std::string& path, const std::string& switches) {
  std::string line = "\"";
  line += platform::EscapeBatchText(path);
  line += "\" ";
  line += switches;
  return line;
}

bool IsLeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE;
}

// ASCII letters in upper case. The second byte of a double-byte character may
// fall in the range of ASCII letters; it is left as it is.
std::string UpperAscii(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsLeadByte(out[i])) {
      ++i;
      continue;
    }
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
  }
  return out;
}

// The part after the last delimiter. Both slashes count: a Windows program
// run under Wine shows its Windows path as its argv[0].
std::string FileNameOf(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i])) {
      ++i;
      continue;
    }
    if (path[i] == '/' || path[i] == '\\') start = i + 1;
  }
  return path.substr(start);
}

// An empty text names no program, also not an empty name.
bool NamesProgram(const std::string& text, const std::string& upperName) {
  if (text.empty() || upperName.empty()) return false;
  const std::string upper = UpperAscii(text);
  return UpperAscii(FileNameOf(text)) == upperName || upper == upperName;
}

bool IsProcessOf(const platform::TProcessEntry& process, const std::string& upperName) {
  return NamesProgram(process.exeName, upperName) || NamesProgram(process.exeFile, upperName);
}

// An install folder where RecentProject.log may be read and written: known,
// and not the root of the file system.
bool IsUsableInstallFolder(const std::string& folder) {
  return folder.find_first_not_of(platform::PathDelim) != std::string::npos;
}

} // namespace

void TUpdateForm::acInstallExecute() {
  const std::string kind = GetProductKind();
  if (IsProcessRunning(GetProductExeName())) {
    ShowInformationText(platform::FormatText(tx::kInstallRefused, kind, kind));
    return;
  }
  // Uninstalling with nothing to install would leave the user without the
  // product.
  if (ListInstallers().Count() == 0) {
    ShowInformationText(tx::kNoInstaller);
    return;
  }

  BackupRecentProjects();
  // The uninstaller's exit code is not examined: uninstallers commonly fail
  // when there was nothing to remove.
  UninstallOldVersion();
  const uint32_t installerCode = InstallPackage();
  RestoreRecentProjects();
  if (installerCode != 0) {
    // The downloaded installer stays for the next attempt.
    const std::string text =
        platform::FormatText(tx::kInstallFailed, static_cast<int32_t>(installerCode));
    ReportFailure(text, TExitStatus::Error);
    ShowInformationText(text);
    return;
  }
  DeleteFolderTree(GetWorkingFolder());
  Log("installed");
  ClearExitStatus();
  Close();
}

bool TUpdateForm::IsProcessRunning(const std::string& exeName) const {
  const std::string upperName = UpperAscii(exeName);
  for (const platform::TProcessEntry& process : ProcessSnapshot())
    if (IsProcessOf(process, upperName)) return true;
  return false;
}

void TUpdateForm::TerminateProductProcesses() {
  const std::string kind = GetProductKind();
  const std::string name = kind == tx::kTenderTool.str() ? "MQT6.exe"
                           : kind == tx::kBidTool.str()  ? "MQV6.exe"
                                                         : "";
  const std::string upperName = UpperAscii(name);
  for (const platform::TProcessEntry& process : ProcessSnapshot())
    if (IsProcessOf(process, upperName)) platform::TerminateProcess(process, 0);
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
  RunAndWait(batchFile, platform::swHide);
}

TStringList TUpdateForm::ListInstallers() const {
  TStringList list;
  ListFilesRecursive(GetProductKind() + ".exe", GetWorkingFolder(), &list);
  return list;
}

uint32_t TUpdateForm::InstallPackage() {
  TStringList list = ListInstallers();
  for (int i = 0; i < list.Count(); ++i)
    list[i] = BatchLine(list[i], kQuietSwitch);
  const std::string batchFile = GetWorkingFolder() + "install.bat";
  list.SaveToFile(batchFile);
  return RunAndWait(batchFile, platform::swHide);
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

#pragma once
// An installed old version (V6) of the tendering tool, the new version's
// installer in the working folder, and fake uninstallers and installers, for
// the tests of the undoable reinstall; with the checks that the old or the
// new version is complete. Inside one folder:
//   c/                          drive C: (UPDATE_DRIVE_C), or another folder
//     Program Files/Zorva/招标工具/      the install folder
//     Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/
//   exe/                        the updater's folder
//   tmp/MQTUpdate/              the working folder, with 招标工具.exe
//   registry.ini                ZBPath names the install folder
//   log.txt                     what the fake programs did, a line each
// The fake programs are shell scripts, written without mode bits.
#include "platform/CodePage.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>

namespace reinstalltest {

using platform::Utf8ToAnsi;

inline const char* const kInstall = "Program Files/Zorva/招标工具/";
inline const char* const kStartMenu =
    "Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/";
inline const char* const kWorking = "tmp/MQTUpdate/";
inline const char* const kUserProjects = "D:\\工程\\一号标段.zbs\r\n";
inline const char* const kNewProgram = "#!/bin/sh\necho 招标工具 V7\n";

enum class TUninstaller {
  RemovesAll,      // the install folder, the Start-menu folder, the value
  LeavesUserData,  // the same, but data/用户.dat stays in place
  RemovesOneByOne, // a file at a time, so that a kill can land in between
};

enum class TInstaller {
  Fails,       // writes into what it finds, adds a file, ends with 1
  NoProgram,   // registers and writes, but places no MQT6.exe; ends with 0
  CannotStart, // a script whose interpreter does not exist
  HtmlPage,    // what a server sends for a missing file
  Succeeds,    // places V7 and registers it; ends with 0
};

struct TFileState {
  std::string bytes;
  unsigned mode = 0;
  bool operator==(const TFileState&) const = default;
};

// Every file below `folder` (UTF-8, with trailing slash) by its relative
// path, with contents and permission bits.
inline std::map<std::string, TFileState> ReadTree(const std::string& folder) {
  std::map<std::string, TFileState> files;
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().string().substr(folder.size())] = {
        std::string(std::istreambuf_iterator<char>(in), {}),
        static_cast<unsigned>(entry.status().permissions() & std::filesystem::perms::all)};
  }
  return files;
}

class TReinstallScene {
public:
  // `drive` (UTF-8, with trailing slash) holds drive C:; the scene's own
  // folder when empty.
  explicit TReinstallScene(std::string drive = {})
      : drive_(drive.empty() ? root_.Utf8("c/") : std::move(drive)) {
    root_.MakeFolder("exe");
    root_.MakeFolder("tmp");
    InstallOldVersion(TUninstaller::RemovesAll);
    Installer(TInstaller::Succeeds);
  }

  const testsupport::TempFolder& Root() const { return root_; }
  std::string Drive() const { return drive_; }
  std::string InstallFolder() const { return drive_ + kInstall; }
  std::string StartMenu() const { return drive_ + kStartMenu; }
  std::string Log() const { return root_.Utf8("log.txt"); }
  // The environment of a run.
  std::map<std::string, std::optional<std::string>> Environment() const {
    return {{"TMPDIR", root_.Utf8("tmp")},
            {"UPDATE_REGISTRY_FILE", root_.Utf8("registry.ini")},
            {"UPDATE_DRIVE_C", drive_}};
  }

  // The old version in place, with its uninstaller; `extraFiles` small files
  // more in lib/, to make a larger installation.
  void InstallOldVersion(TUninstaller uninstaller, int extraFiles = 0) {
    std::filesystem::remove_all(InstallFolder());
    std::filesystem::remove_all(StartMenu());
    std::string library(64 << 10, '\0');
    std::mt19937 random(6);
    for (char& c : library)
      c = static_cast<char>(random());
    WriteFile(InstallFolder() + "MQT6.exe", "#!/bin/sh\necho 招标工具 V6\n", 0755);
    WriteFile(InstallFolder() + "RecentProject.log", kUserProjects, 0644);
    WriteFile(InstallFolder() + "bin/组件.dll", library, 0644);
    WriteFile(InstallFolder() + "bin/只读.dat", "read-only data", 0444);
    WriteFile(InstallFolder() + ".config/settings.ini", "[old]\r\n", 0600);
    WriteFile(InstallFolder() + "data/用户.dat", "user data of V6", 0644);
    WriteFile(InstallFolder() + "unins000.exe", UninstallerScript(uninstaller), 0755);
    for (int i = 0; i < extraFiles; ++i)
      WriteFile(InstallFolder() + "lib/模块" + std::to_string(i) + ".dat",
                std::string(static_cast<size_t>(100 + i), static_cast<char>('a' + i % 26)), 0644);
    WriteFile(
        StartMenu() + "卸载 MQT6.exe.lnk",
        testsupport::MakeShellLink(
            {Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\"), "unins000.exe", false, {}, {}}),
        0644);
    WriteFile(StartMenu() + "招标工具.lnk", "shortcut to MQT6.exe", 0644);
    root_.Write("registry.ini", RegistryText(true));
    oldInstall_ = ReadTree(InstallFolder());
    oldStartMenu_ = ReadTree(StartMenu());
  }

  // The downloaded installer in the working folder.
  void Installer(TInstaller kind, int delayMs = 0) {
    WriteFile(root_.Utf8(kWorking) + "招标工具.exe", InstallerScript(kind, delayMs), 0600);
  }

  std::string RegistryText(bool withInstallFolder) const {
    return Utf8ToAnsi(
        "[SOFTWARE\\Zorva编标工具\\6.0]\r\n" +
        std::string(withInstallFolder ? "ZBPath=C:\\Program Files\\Zorva\\招标工具\r\n" : "") +
        "TBPath=/opt/tb\r\n");
  }

  // What is wrong with the old version, or empty when it is complete, byte
  // for byte and mode for mode, with its shortcuts and registry value; files
  // that an installer added are allowed.
  std::string OldVersionDefects() const {
    std::string defects;
    const auto install = ReadTree(InstallFolder());
    for (const auto& [name, state] : oldInstall_) {
      const auto it = install.find(name);
      if (it == install.end())
        defects += "missing " + name + "\n";
      else if (!(it->second == state))
        defects += "changed " + name + "\n";
    }
    if (ReadTree(StartMenu()) != oldStartMenu_) defects += "Start-menu folder differs\n";
    if (root_.Read("registry.ini").find("ZBPath=") == std::string::npos)
      defects += "no ZBPath in the registry\n";
    return defects;
  }

  // What is wrong with the new version, or empty when it is in place with
  // the user's recent projects.
  std::string NewVersionDefects() const {
    std::string defects;
    const auto install = ReadTree(InstallFolder());
    const auto file = [&install](const std::string& name) {
      const auto it = install.find(name);
      return it == install.end() ? std::string("(missing)") : it->second.bytes;
    };
    if (file("MQT6.exe") != kNewProgram) defects += "MQT6.exe is not V7\n";
    if (file("bin/组件.dll") != "V7 library") defects += "bin/组件.dll is not V7\n";
    if (file("RecentProject.log") != kUserProjects) defects += "recent projects lost\n";
    if (root_.Read("registry.ini").find("ZBPath=") == std::string::npos)
      defects += "no ZBPath in the registry\n";
    return defects;
  }

  std::string ReadLog() const { return root_.Read("log.txt"); }
  // A file of the install folder, "(missing)" when there is none.
  std::string ReadInstalled(const std::string& name) const {
    std::ifstream in(InstallFolder() + name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(missing)";
  }
  void WriteInstalled(const std::string& name, const std::string& bytes) const {
    WriteFile(InstallFolder() + name, bytes, 0644);
  }

private:
  static void WriteFile(const std::string& path, const std::string& bytes, unsigned mode) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ::chmod(path.c_str(), 0600); // an earlier read-only file is written anew
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(path.c_str(), mode);
  }

  std::string Quoted(const std::string& path) const { return "'" + path + "'"; }

  std::string UninstallerScript(TUninstaller kind) const {
    const std::string install = Quoted(InstallFolder());
    std::string remove;
    switch (kind) {
    case TUninstaller::RemovesAll:
      remove = "rm -rf " + install + "\n";
      break;
    case TUninstaller::LeavesUserData:
      remove =
          "cd " + install + " && for f in * .[!.]*; do [ \"$f\" = data ] || rm -rf \"$f\"; done\n";
      break;
    case TUninstaller::RemovesOneByOne:
      remove = "find " + install + " -type f | while read -r f; do rm -f \"$f\"; done\n" +
               "rm -rf " + install + "\n";
      break;
    }
    return "#!/bin/sh\necho \"uninstall $*\" >> " + Quoted(Log()) + "\n" + remove + "rm -rf " +
           Quoted(StartMenu()) + "\nprintf '%s' '" + RegistryText(false) + "' > " +
           Quoted(root_.Utf8("registry.ini")) + "\nexit 1\n";
  }

  std::string InstallerScript(TInstaller kind, int delayMs) const {
    const std::string install = Quoted(InstallFolder());
    const std::string record = "echo \"install $*\" >> " + Quoted(Log()) + "\n";
    const std::string done = "echo 'install done' >> " + Quoted(Log()) + "\n";
    const std::string pause =
        delayMs > 0 ? "sleep " + std::to_string(delayMs / 1000.0) + "\n" : std::string();
    const std::string registry =
        "printf '%s' '" + RegistryText(true) + "' > " + Quoted(root_.Utf8("registry.ini")) + "\n";
    switch (kind) {
    case TInstaller::Fails:
      // Writes into the files it finds, in place, as installers may.
      return "#!/bin/sh\n" + record + "mkdir -p " + install + "/bin\n" + pause +
             "printf 'V7 library' > " + Quoted(InstallFolder() + "bin/组件.dll") + "\n" + "[ -f " +
             Quoted(InstallFolder() + "data/用户.dat") + " ] && printf 'V7 data' > " +
             Quoted(InstallFolder() + "data/用户.dat") + "\nprintf added > " +
             Quoted(InstallFolder() + "bin/新增.dll") + "\n" + done + "exit 1\n";
    case TInstaller::NoProgram:
      return "#!/bin/sh\n" + record + "mkdir -p " + install + "/bin\n" + pause +
             "printf 'V7 library' > " + Quoted(InstallFolder() + "bin/组件.dll") + "\n" + registry +
             done + "exit 0\n";
    case TInstaller::CannotStart:
      return "#!/nonexistent/sh\n" + record;
    case TInstaller::HtmlPage:
      return "<!DOCTYPE html>\n<html><body><h1>404 Not Found</h1></body></html>\n";
    case TInstaller::Succeeds:
      // The program goes last: a version counts as in place once it is.
      return "#!/bin/sh\n" + record + "mkdir -p " + install + "/bin\n" + pause +
             "printf 'V7 library' > " + Quoted(InstallFolder() + "bin/组件.dll") + "\n: > " +
             Quoted(InstallFolder() + "RecentProject.log") + "\n" + registry + "printf '%s' '" +
             kNewProgram + "' > " + Quoted(InstallFolder() + "MQT6.exe") + "\n" + done + "exit 0\n";
    }
    return {};
  }

  testsupport::TempFolder root_;
  std::string drive_;
  std::map<std::string, TFileState> oldInstall_;
  std::map<std::string, TFileState> oldStartMenu_;
};

} // namespace reinstalltest

#pragma once
// An installed product, a downloaded installer and the form that installs
// it, all inside one temporary folder:
//   c/                    drive C: (UPDATE_DRIVE_C)
//     Program Files/Zorva/招标工具/   the install folder, with RecentProject.log
//       unins000.exe      the old version's uninstaller
//     Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/
//       卸载 MQT6.exe.lnk  its uninstall shortcut
//   exe/                  the updater's folder
//   tmp/MQTUpdate/        the working folder, with 招标工具.exe, the installer
//   registry.ini          ZBPath = C:\Program Files\Zorva\招标工具
//   log.txt               what the fake programs did, a line each
// The fake programs are shell scripts written without mode bits, as files
// from the server arrive.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

namespace installtest {

using platform::Utf8ToAnsi;

// The form with its messages recorded and its process snapshot narrowed to
// the processes that the test started itself.
class TInstallForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;

  void ShowInformationText(const std::string& text) override { messages.push_back(text); }
  std::vector<platform::TProcessEntry> ProcessSnapshot() const override {
    std::vector<platform::TProcessEntry> own;
    for (const platform::TProcessEntry& p : TUpdateForm::ProcessSnapshot())
      if (ownProcesses.count(p.id)) own.push_back(p);
    return own;
  }

  std::vector<std::string> messages; // ANSI
  std::set<uint32_t> ownProcesses;
};

inline const char* const kInstallFolder = "c/Program Files/Zorva/招标工具/";
inline const char* const kStartMenu =
    "c/Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/";
inline const char* const kWorkingFolder = "tmp/MQTUpdate/";

class InstallTest : public ::testing::Test {
protected:
  InstallTest()
      : tmp_("TMPDIR", root_.Utf8("tmp")),
        registry_("UPDATE_REGISTRY_FILE", root_.Utf8("registry.ini")),
        drive_("UPDATE_DRIVE_C", root_.Utf8("c")) {
    root_.MakeFolder("exe");
    root_.MakeFolder("tmp");
    WriteRegistry("ZBPath=C:\\Program Files\\Zorva\\招标工具\r\n");
    root_.Write(std::string(kInstallFolder) + "RecentProject.log", "我的工程\r\n");
    WriteProgram(std::string(kInstallFolder) + "unins000.exe",
                 "echo \"uninstall $*\" >> '" + Log() +
                     "'\n"
                     "[ -f '" +
                     root_.Utf8("exe/RecentProject.log") + "' ] && echo 'backed up' >> '" + Log() +
                     "'\n"
                     "rm -f '" +
                     root_.Utf8(kInstallFolder) +
                     "RecentProject.log'\n"
                     "exit 1\n"); // uninstallers fail when there was nothing to remove
    root_.Write(
        std::string(kStartMenu) + "卸载 MQT6.exe.lnk",
        testsupport::MakeShellLink(
            {Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\"), "unins000.exe", false, {}, {}}));
    WriteInstaller(std::string(kWorkingFolder) + "招标工具.exe", 0);
  }

  // The registry key's section with the given values (UTF-8).
  void WriteRegistry(const std::string& values) {
    root_.Write("registry.ini", Utf8ToAnsi("[SOFTWARE\\Zorva编标工具\\6.0]\r\n" + values));
  }

  void WriteProgram(const std::string& name, const std::string& body) {
    root_.Write(name, "#!/bin/sh\n" + body);
    ::chmod(root_.Utf8(name).c_str(), 0600);
  }

  // An installer that records its run, leaves the product's program and a
  // fresh, empty recent-project list in the install folder as a new
  // installation does, and ends with `code`.
  void WriteInstaller(const std::string& name, int code) {
    WriteProgram(name, "echo \"install $*\" >> '" + Log() +
                           "'\n"
                           "mkdir -p '" +
                           root_.Utf8(kInstallFolder) + "'\necho 7 > '" + root_.Utf8(kInstallFolder) +
                           "MQT6.exe'\n"
                           ": > '" +
                           root_.Utf8(kInstallFolder) +
                           "RecentProject.log'\n"
                           "exit " +
                           std::to_string(code) + "\n");
  }

  std::string Log() const { return root_.Utf8("log.txt"); }
  std::string ReadLog() const { return root_.Read("log.txt"); }

  TInstallForm Form() { return TInstallForm({"-ZB"}, root_.Ansi("exe/")); }

  testsupport::TempFolder root_;
  testsupport::ScopedEnv tmp_, registry_, drive_;
};

} // namespace installtest

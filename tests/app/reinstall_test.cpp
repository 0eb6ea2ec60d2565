// The undoable reinstall of the install step, with a fake uninstaller that
// removes the install folder, the Start-menu folder and the registry value,
// and fake installers that fail in each way: the old version comes back byte
// for byte, and a reinstall that a crash interrupted is finished or undone
// at the next start.
#include "app/Reinstall.h"
#include "app/ReinstallRecord.h"
#include "app/UpdateForm.h"
#include "platform/FileSystem.h"
#include "platform/HardLink.h"
#include "platform/Profile.h"
#include "tests/app/reinstall_fixture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/UniqueFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace reinstalltest;
using platform::AnsiToUtf8;
using testsupport::ScopedEnv;

class TReinstallForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  void ShowInformationText(const std::string& text) override {
    messages.push_back(AnsiToUtf8(text));
  }
  // No product runs here; the test's own processes are none of its.
  std::vector<platform::TProcessEntry> ProcessSnapshot() const override { return {}; }
  int64_t FreeDiskSpace(const std::string& folder) const override {
    return freeSpace ? *freeSpace : TUpdateForm::FreeDiskSpace(folder);
  }

  std::vector<std::string> messages; // UTF-8
  std::optional<int64_t> freeSpace;
};

// A scene with its environment set in this process.
struct TLocalScene {
  explicit TLocalScene(std::string drive = {})
      : scene(std::move(drive)), tmp("TMPDIR", scene.Root().Utf8("tmp")),
        registry("UPDATE_REGISTRY_FILE", scene.Root().Utf8("registry.ini")),
        driveC("UPDATE_DRIVE_C", scene.Drive()) {
    scene.Root().Write("exe/VersionCfg.ini", "[HTTP]\r\nDoneSize=77\r\n");
  }
  std::unique_ptr<TReinstallForm> Form() const {
    return std::make_unique<TReinstallForm>(std::vector<std::string>{"-ZB"},
                                            scene.Root().Ansi("exe/"));
  }
  bool Exists(const std::string& name) const { return scene.Root().Exists(name); }
  std::string RunLog() const { return scene.Root().Read("exe/update.log"); }

  TReinstallScene scene;
  ScopedEnv tmp, registry, driveC;
};

// A folder on another volume than the temporary folder (tmpfs), removed
// with its contents; none when the machine has no such volume.
class TOtherVolume {
public:
  TOtherVolume() {
    if (!std::filesystem::is_directory("/dev/shm")) return;
    testsupport::TempFolder probe;
    probe.Write("a", "a");
    if (platform::CreateHardLink(probe.Ansi("a"), "/dev/shm/updater-link-trial")) {
      std::filesystem::remove("/dev/shm/updater-link-trial");
      return;
    }
    std::string folder = "/dev/shm/updater-reinstall-XXXXXX";
    if (::mkdtemp(folder.data())) folder_ = folder + "/";
  }
  ~TOtherVolume() {
    if (folder_.empty()) return;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(folder_, ec);
  }
  TOtherVolume(const TOtherVolume&) = delete;
  TOtherVolume& operator=(const TOtherVolume&) = delete;
  const std::string& Folder() const { return folder_; }

private:
  std::string folder_;
};

// A folder in which not even root may create a file, for one scope: the
// immutable attribute for root, else no write permission. Unwritable()
// stays false where neither works.
class TUnwritableFolder {
public:
  explicit TUnwritableFolder(std::string folder) : folder_(std::move(folder)) {
    root_ = ::geteuid() == 0;
    done_ = root_ ? std::system(("chattr +i '" + folder_ + "' 2>/dev/null").c_str()) == 0
                  : ::chmod(folder_.c_str(), 0555) == 0;
  }
  ~TUnwritableFolder() { Release(); }
  TUnwritableFolder(const TUnwritableFolder&) = delete;
  TUnwritableFolder& operator=(const TUnwritableFolder&) = delete;
  bool Unwritable() const { return done_; }
  void Release() {
    if (!done_) return;
    done_ = false;
    if (root_)
      (void)!std::system(("chattr -i '" + folder_ + "'").c_str());
    else
      ::chmod(folder_.c_str(), 0755);
  }

private:
  std::string folder_;
  bool root_ = false;
  bool done_ = false;
};

TEST(Reinstall, EveryFailedInstallerLeavesTheOldVersionAndOnlySuccessTheNew) {
  struct Case {
    const char* name;
    TInstaller installer;
    const char* message; // none: installed
    TExitStatus status;
    bool uninstalled;
    bool downloadKept;
  } cases[] = {
      {"ends with 1", TInstaller::Fails, "安装未完成（错误代码 1），已恢复原版本，请重试。",
       TExitStatus::Error, true, true},
      {"ends with 0 without the program", TInstaller::NoProgram,
       "安装未完成（错误代码 0），已恢复原版本，请重试。", TExitStatus::Error, true, true},
      {"cannot be started", TInstaller::CannotStart,
       "安装未完成（错误代码 9009），已恢复原版本，请重试。", TExitStatus::Error, true, true},
      {"an HTML page", TInstaller::HtmlPage, "下载的文件已损坏，请重新下载。", TExitStatus::Refused,
       false, false},
      {"succeeds", TInstaller::Succeeds, nullptr, TExitStatus::Ok, true, false},
  };
  TOtherVolume other;
  for (const bool sameVolume : {true, false}) {
    SCOPED_TRACE(sameVolume ? "snapshot on the same volume" : "snapshot on another volume");
    if (!sameVolume && other.Folder().empty()) {
      std::printf("no second volume here: the copies of the snapshot are not tried\n");
      continue;
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      TLocalScene s(sameVolume ? std::string() : other.Folder() + std::to_string(&c - cases) + "/");
      s.scene.Installer(c.installer);
      auto form = s.Form();
      form->acInstallExecute();

      EXPECT_EQ(form->ExitStatus(), c.status);
      EXPECT_EQ(s.scene.ReadLog().find("uninstall /quiet") != std::string::npos, c.uninstalled);
      EXPECT_EQ(s.Exists(std::string(kWorking) + "招标工具.exe"), c.downloadKept);
      EXPECT_FALSE(s.Exists(std::string(kWorking) + "Snapshot"));
      EXPECT_FALSE(s.Exists(std::string(kWorking) + "Reinstall.ini"));
      if (!c.message) {
        EXPECT_EQ(s.scene.NewVersionDefects(), "");
        EXPECT_TRUE(form->messages.empty());
        EXPECT_TRUE(form->Closed());
        EXPECT_FALSE(s.Exists(kWorking));
        continue;
      }
      EXPECT_EQ(s.scene.OldVersionDefects(), "") << s.RunLog();
      EXPECT_EQ(form->messages, std::vector<std::string>{c.message});
      EXPECT_FALSE(form->Closed());
      if (c.installer == TInstaller::Fails) {
        EXPECT_EQ(s.scene.ReadInstalled("bin/新增.dll"), "added")
            << "what the failed installer added stays";
      }
    }
    // The snapshot's links and copies, as the log tells them: the read-only
    // file is always copied.
    TLocalScene s(sameVolume ? std::string() : other.Folder() + "log/");
    s.scene.Installer(TInstaller::Fails);
    s.Form()->acInstallExecute();
    EXPECT_NE(s.RunLog().find(sameVolume ? "snapshot taken files=9 linked=8 copied=1 "
                                         : "snapshot taken files=9 linked=0 copied=9 "),
              std::string::npos)
        << s.RunLog();
  }
}

TEST(Reinstall, AFileTheUninstallerLeftIsKeptApartBeforeTheInstallerWritesIntoIt) {
  TLocalScene s;
  s.scene.InstallOldVersion(TUninstaller::LeavesUserData);
  s.scene.Installer(TInstaller::Fails);
  auto form = s.Form();
  form->acInstallExecute();
  EXPECT_EQ(s.scene.OldVersionDefects(), "");
  EXPECT_NE(s.RunLog().find("snapshot separated files=1 bytes=15"), std::string::npos)
      << s.RunLog();
}

TEST(Reinstall, TheRunLogTellsEachStepOfTheInstallation) {
  TLocalScene s;
  s.scene.Installer(TInstaller::Fails);
  s.Form()->acInstallExecute();
  const std::string log = s.RunLog();
  size_t at = 0;
  for (const std::string& step :
       {"install check file=" + s.scene.Root().Utf8(kWorking) +
            "招标工具.exe format=script result=program",
        std::string("snapshot taken files=9 "), std::string("uninstall exit=1 lines=1"),
        std::string("snapshot separated files=0"),
        std::string("install exit=1 executable=no-folder folder="),
        std::string("restore files=9 linked=8 copied=1 "), std::string("registry=1 result=ok"),
        std::string("error status=1: 安装未完成（错误代码 1），已恢复原版本，请重试。")}) {
    SCOPED_TRACE(step);
    at = log.find(step, at);
    ASSERT_NE(at, std::string::npos) << log;
  }
}

TEST(Reinstall, ADiskTooFullForTheSnapshotUninstallsNothing) {
  TLocalScene s;
  auto form = s.Form();
  form->freeSpace = 1000;
  form->acInstallExecute();
  EXPECT_EQ(form->messages,
            std::vector<std::string>{"磁盘空间不足，无法备份当前版本，未进行安装。"});
  EXPECT_EQ(form->ExitStatus(), TExitStatus::Error);
  EXPECT_EQ(s.scene.ReadLog(), "");
  EXPECT_EQ(s.scene.OldVersionDefects(), "");
  EXPECT_TRUE(s.Exists(std::string(kWorking) + "招标工具.exe"));
  EXPECT_FALSE(s.Exists(std::string(kWorking) + "Snapshot"));
  EXPECT_NE(s.RunLog().find("snapshot refused reason=space needed="), std::string::npos);
}

TEST(Reinstall, WithoutTheRightsToPutItBackTheReinstallGoesOnAsBefore) {
  for (const bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry not writable" : "install folder not writable");
    TLocalScene s;
    s.scene.Installer(TInstaller::Fails);
    TUnwritableFolder locked(registry ? s.scene.Root().Utf8("registry.ini")
                                      : s.scene.InstallFolder());
    if (!locked.Unwritable()) GTEST_SKIP() << "it cannot be made unwritable here";
    auto form = s.Form();
    form->acInstallExecute();
    EXPECT_EQ(form->messages, std::vector<std::string>{"安装未完成（错误代码 1），请重试。"});
    EXPECT_NE(s.RunLog().find("snapshot skipped reason=rights path="), std::string::npos);
    EXPECT_FALSE(s.Exists(std::string(kWorking) + "Snapshot"));
    EXPECT_TRUE(s.Exists(std::string(kWorking) + "招标工具.exe"));
  }
}

// Where a crash stops the install step, and what the next start finds.
enum class TCrash {
  SnapshotTaken,    // the record not yet written
  DuringUninstall,  // half the old version removed
  InstallerFailed,  // killed before the restore began
  NewVersionPlaced, // the installer was done, the updater not
  Installed,        // the phase said so
  DuringRestore,    // a copy of the restore cut short
};

TEST(Reinstall, TheNextStartFinishesOrUndoesAnInterruptedReinstall) {
  struct Case {
    const char* name;
    TCrash crash;
    bool newVersion;
  } cases[] = {
      {"snapshot taken", TCrash::SnapshotTaken, false},
      {"during the uninstall", TCrash::DuringUninstall, false},
      {"after a failed installer", TCrash::InstallerFailed, false},
      {"after the new version was placed", TCrash::NewVersionPlaced, true},
      {"installed", TCrash::Installed, true},
      {"during the restore", TCrash::DuringRestore, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLocalScene s;
    s.scene.Installer(c.crash == TCrash::InstallerFailed || c.crash == TCrash::DuringRestore
                          ? TInstaller::Fails
                          : TInstaller::Succeeds);
    const std::string record = s.scene.Root().Ansi(std::string(kWorking) + "Reinstall.ini");
    {
      auto form = s.Form();
      form->BackupRecentProjects();
      TReinstall reinstall(*form);
      ASSERT_EQ(reinstall.Begin(), TReinstall::TBegin::Snapshot);
      switch (c.crash) {
      case TCrash::SnapshotTaken:
        platform::DeleteFile(record);
        break;
      case TCrash::DuringUninstall:
        std::filesystem::remove(s.scene.InstallFolder() + "MQT6.exe");
        std::filesystem::remove_all(s.scene.InstallFolder() + "bin");
        break;
      case TCrash::InstallerFailed:
      case TCrash::NewVersionPlaced:
      case TCrash::Installed:
      case TCrash::DuringRestore:
        form->UninstallOldVersion();
        ASSERT_TRUE(reinstall.EnterInstall());
        form->InstallPackage();
        if (c.crash == TCrash::Installed) reinstall.MarkInstalled();
        if (c.crash == TCrash::DuringRestore) {
          ASSERT_TRUE(WriteReinstallPhase(record, TReinstallPhase::Restore));
          // What a copy of the restore that was killed leaves beside its
          // target.
          s.scene.WriteInstalled("bin/.组件.dll.tmp4321-0", "half");
        }
        break;
      }
      // Gone as a crash leaves it: nothing finishes.
    }
    auto next = s.Form();
    next->RecoverInterruptedReinstall();
    EXPECT_FALSE(s.Exists(std::string(kWorking) + "Reinstall.ini"));
    EXPECT_FALSE(s.Exists(std::string(kWorking) + "Snapshot"));
    if (c.newVersion) {
      EXPECT_EQ(s.scene.NewVersionDefects(), "") << s.RunLog();
      EXPECT_FALSE(s.Exists(kWorking));
      EXPECT_NE(s.RunLog().find("action=finish"), std::string::npos) << s.RunLog();
      continue;
    }
    EXPECT_EQ(s.scene.OldVersionDefects(), "") << s.RunLog();
    EXPECT_FALSE(std::filesystem::exists(s.scene.InstallFolder() + "bin/.组件.dll.tmp4321-0"));
    if (c.crash != TCrash::SnapshotTaken) {
      EXPECT_TRUE(s.Exists(std::string(kWorking) + "招标工具.exe")) << "the download is kept";
    }
    // Nothing is left to do for the start after.
    const std::string log = s.RunLog();
    s.Form()->RecoverInterruptedReinstall();
    EXPECT_EQ(s.RunLog(), log);
  }
}

TEST(Reinstall, AnOldVersionThatCannotBePutBackKeepsItsRecordForTheNextStart) {
  TLocalScene s;
  {
    auto form = s.Form();
    TReinstall reinstall(*form);
    ASSERT_EQ(reinstall.Begin(), TReinstall::TBegin::Snapshot);
    std::filesystem::remove(s.scene.InstallFolder() + "MQT6.exe");
  }
  {
    TUnwritableFolder locked(s.scene.InstallFolder());
    if (!locked.Unwritable()) GTEST_SKIP() << "the install folder cannot be made unwritable here";
    auto form = s.Form();
    try {
      form->RecoverInterruptedReinstall();
      ADD_FAILURE() << "the restore did not fail";
    } catch (const Exception& e) {
      EXPECT_NE(
          AnsiToUtf8(e.what()).find("无法恢复原版本：“" + s.scene.InstallFolder() + "MQT6.exe”"),
          std::string::npos)
          << AnsiToUtf8(e.what());
    }
    EXPECT_TRUE(s.Exists(std::string(kWorking) + "Reinstall.ini"));
  }
  s.Form()->RecoverInterruptedReinstall();
  EXPECT_EQ(s.scene.OldVersionDefects(), "");
  EXPECT_FALSE(s.Exists(std::string(kWorking) + "Reinstall.ini"));
}

TEST(Reinstall, ARestoreThatFailedIsDoneBeforeTheNextAttemptTakesItsSnapshot) {
  TLocalScene s;
  if (::geteuid() == 0 && std::system("command -v chattr >/dev/null") != 0)
    GTEST_SKIP() << "no chattr";
  const std::string folder = s.scene.InstallFolder();
  // An installer that fails and leaves the install folder unwritable, as a
  // security program that holds it might.
  s.scene.Root().Write(std::string(kWorking) + "招标工具.exe",
                       "#!/bin/sh\nmkdir -p '" + folder +
                           "'\nif [ $(id -u) = 0 ]; then chattr +i '" + folder +
                           "'; else chmod 555 '" + folder + "'; fi\nexit 1\n");
  auto form = s.Form();
  form->acInstallExecute();
  const bool unwritable = std::system(("chattr -i '" + folder + "' 2>/dev/null").c_str()) == 0 ||
                          ::chmod(folder.c_str(), 0755) == 0;
  ASSERT_TRUE(unwritable);
  ASSERT_EQ(form->messages.size(), 1u);
  EXPECT_EQ(form->messages[0].rfind("无法恢复原版本：", 0), 0u) << form->messages[0];
  EXPECT_TRUE(s.Exists(std::string(kWorking) + "Reinstall.ini"));

  // The folder is writable again; the next 确定 puts the old version back
  // before it takes a new snapshot, and its installer fails too.
  s.scene.Installer(TInstaller::Fails);
  form->messages.clear();
  form->acInstallExecute();
  EXPECT_EQ(form->messages,
            std::vector<std::string>{"安装未完成（错误代码 1），已恢复原版本，请重试。"});
  EXPECT_EQ(s.scene.OldVersionDefects(), "") << s.RunLog();
}

TEST(Reinstall, TheRecordKeepsEveryTextAsItWas) {
  testsupport::TempFolder dir;
  TReinstallRecord record;
  record.phase = TReinstallPhase::Install;
  record.productKind = platform::Utf8ToAnsi("投标工具");
  record.exeName = "MQV6.exe";
  record.installFolder = platform::Utf8ToAnsi(" /opt/投标工具 \"x\" /");
  record.startMenuFolder = "\"/quoted/\"";
  record.registryKey = platform::Utf8ToAnsi("SOFTWARE\\Zorva编标工具\\6.0");
  record.registryValueName = "";
  record.registryData = platform::Utf8ToAnsi("D:\\投标工具 ");
  ASSERT_TRUE(WriteReinstallRecord(dir.Ansi("r.ini"), record));
  for (const TReinstallPhase phase : {TReinstallPhase::Uninstall, TReinstallPhase::Install,
                                      TReinstallPhase::Installed, TReinstallPhase::Restore}) {
    ASSERT_TRUE(WriteReinstallPhase(dir.Ansi("r.ini"), phase));
    const auto read = ReadReinstallRecord(dir.Ansi("r.ini"));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->phase, phase);
    EXPECT_EQ(read->productKind, record.productKind);
    EXPECT_EQ(read->exeName, record.exeName);
    EXPECT_EQ(read->installFolder, record.installFolder);
    EXPECT_EQ(read->startMenuFolder, record.startMenuFolder);
    EXPECT_EQ(read->registryKey, record.registryKey);
    EXPECT_EQ(read->registryValueName, record.registryValueName);
    EXPECT_EQ(read->registryData, record.registryData);
  }
  record.registryData = "two\r\nlines";
  EXPECT_FALSE(WriteReinstallRecord(dir.Ansi("bad.ini"), record));
  dir.Write("bad.ini", "[Reinstall]\r\nPhase=unknown\r\nInstallFolder=/x/\r\n");
  EXPECT_EQ(ReadReinstallRecord(dir.Ansi("bad.ini")), std::nullopt);
  EXPECT_EQ(ReadReinstallRecord(dir.Ansi("missing.ini")), std::nullopt);
}

} // namespace

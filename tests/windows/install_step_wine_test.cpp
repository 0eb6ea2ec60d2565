// The install step of the Windows build under Wine: the program check of the
// download (a PE image), the snapshot with CreateHardLinkW, the restore of
// the files, the shortcuts and the registry value after a failed installer,
// the recovery at the next start after the updater was killed, and the
// mutex that keeps a second updater out. The step runs in
// install_step_driver.exe; the uninstaller and the installer are copies of
// fake_setup.exe.
#include "platform/CodePage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/windows/WineSession.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ReadFile;

const std::string kPrograms = UPDATER_WINDOWS_TEST_PROGRAMS;
const char* const kInstallWin = "C:\\Zorva测试\\招标工具\\";
const char* const kStartMenuWin =
    "C:\\Documents and Settings\\All Users\\「开始」菜单\\程序\\Zorva电子招标工具\\";
const char* const kKey = "HKLM\\SOFTWARE\\Zorva编标工具\\6.0";

std::filesystem::path Path(const std::string& utf8) {
  return std::filesystem::u8path(utf8);
}

std::map<std::string, std::string> ReadTree(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file())
      files[e.path().lexically_relative(folder).string()] = ReadFile(e.path());
  return files;
}

class InstallStepUnderWine : public ::testing::Test {
protected:
  InstallStepUnderWine()
      : drive_(Path(winetest::WinePrefix() + "/drive_c")),
        install_(drive_ / Path("Zorva测试/招标工具")),
        documents_(drive_ / "Documents and Settings"),
        startMenu_(documents_ / Path("All Users/「开始」菜单/程序/Zorva电子招标工具")) {
    madeDocuments_ = !std::filesystem::exists(documents_);
    std::filesystem::remove_all(winetest::WorkingFolder());
    dir_.MakeFolder("exe");
    std::filesystem::copy_file(UPDATER_WINDOWS_PROGRAM, dir_.Utf8("exe/update.exe"));
    dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    // The silent check of the next start cannot reach its server.
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=6\r\n[HTTP]\r\n"
                                     "URLUseCDN=http://127.0.0.1:1/\r\n"
                                     "URLWithnotCDN=http://127.0.0.1:1/\r\n");
    InstallOldVersion();
  }
  ~InstallStepUnderWine() override {
    std::filesystem::remove_all(winetest::WorkingFolder());
    std::filesystem::remove_all(install_.parent_path());
    std::filesystem::remove_all(madeDocuments_ ? documents_ : startMenu_);
    Wine({"reg", "delete", kKey, "/v", "ZBPath", "/reg:32", "/f"});
  }

  void InstallOldVersion() {
    std::filesystem::remove_all(install_);
    std::filesystem::remove_all(startMenu_);
    Put(install_ / "MQT6.exe", "V6 program");
    Put(install_ / "RecentProject.log", Utf8ToAnsi("D:\\工程\\一号标段.zbs\r\n"));
    Put(install_ / Path("bin/组件.dll"), std::string(100000, 'L'));
    Put(install_ / Path("bin/只读.dat"), "read-only data");
    std::filesystem::permissions(install_ / Path("bin/只读.dat"),
                                 std::filesystem::perms::owner_read);
    std::filesystem::copy_file(kPrograms + "/fake_setup.exe", install_ / "unins000.exe");
    Put(startMenu_ / Path("卸载 MQT6.exe.lnk"),
        testsupport::MakeShellLink(
            {Utf8ToAnsi(std::string(kInstallWin) + "unins000.exe"), "", false, {}, {}}));
    Put(startMenu_ / Path("招标工具.lnk"), "shortcut to MQT6.exe");
    ASSERT_EQ(Wine({"reg", "add", kKey, "/v", "ZBPath", "/t", "REG_SZ", "/d",
                    "C:\\Zorva测试\\招标工具", "/reg:32", "/f"}),
              0);
    oldInstall_ = ReadTree(install_);
    oldStartMenu_ = ReadTree(startMenu_);
  }

  static void Put(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  void Installer(const std::string& bytes) {
    Put(Path(winetest::WorkingFolder() + "/招标工具.exe"), bytes);
  }
  void FakeInstaller() {
    std::filesystem::create_directories(Path(winetest::WorkingFolder()));
    std::filesystem::copy_file(kPrograms + "/fake_setup.exe",
                               Path(winetest::WorkingFolder() + "/招标工具.exe"),
                               std::filesystem::copy_options::overwrite_existing);
  }

  // Runs a Windows program to its end; its exit code.
  int Wine(const std::vector<std::string>& args) {
    auto run = winetest::StartWine(args, std::nullopt, dir_.Utf8("wine.txt"));
    return run->WaitFor(120s).value_or(-1);
  }
  std::map<std::string, std::optional<std::string>> SetupEnvironment(int exitCode, bool places,
                                                                     int delayMs = 0) const {
    return {{"FAKE_LOG", winetest::WinePath(dir_.Utf8("log.txt"))},
            {"FAKE_INSTALL_FOLDER", kInstallWin},
            {"FAKE_START_MENU", kStartMenuWin},
            {"FAKE_INSTALL_EXIT", std::to_string(exitCode)},
            {"FAKE_INSTALL_PLACES", places ? "1" : "0"},
            {"FAKE_INSTALL_DELAY_MS", std::to_string(delayMs)}};
  }
  // The driver leads a process group of its own, which the batch file's
  // interpreter and the programs it starts join.
  std::unique_ptr<testsupport::ChildProcess>
  StartDriver(std::map<std::string, std::optional<std::string>> env) {
    env["DISPLAY"] = std::nullopt;
    env["WAYLAND_DISPLAY"] = std::nullopt;
    env["LC_ALL"] = "zh_CN.UTF-8";
    env["WINEDEBUG"] = "-all";
    env["WINEPREFIX"] = winetest::WinePrefix();
    return std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{winetest::kWine, kPrograms + "/install_step_driver.exe",
                                 winetest::WinePath(dir_.Utf8("exe"))},
        env, dir_.Utf8("driver.txt"), std::nullopt, true);
  }
  std::unique_ptr<testsupport::ChildProcess> StartUpdate() {
    return winetest::StartWine({dir_.Utf8("exe/update.exe"), "-ZB"}, std::nullopt,
                               dir_.Utf8("update.txt"));
  }
  bool Logged(const std::string& line, std::chrono::seconds limit = 60s) const {
    for (auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms))
      if (("\n" + dir_.Read("log.txt")).find("\n" + line + "\r\n") != std::string::npos)
        return true;
    return false;
  }

  std::string RegistryValue() {
    Wine({"reg", "query", kKey, "/v", "ZBPath", "/reg:32"});
    return dir_.Read("wine.txt");
  }
  std::string OldVersionDefects() {
    std::string defects;
    if (ReadTree(install_) != oldInstall_) {
      for (const auto& [name, bytes] : oldInstall_) {
        const auto now = ReadTree(install_);
        const auto it = now.find(name);
        if (it == now.end() || it->second != bytes) defects += "changed or missing " + name + "\n";
      }
    }
    if (ReadTree(startMenu_) != oldStartMenu_) defects += "Start-menu folder differs\n";
    if (RegistryValue().find(Utf8ToAnsi("C:\\Zorva测试\\招标工具")) == std::string::npos)
      defects += "no ZBPath in the registry\n";
    const auto mode = std::filesystem::status(install_ / Path("bin/只读.dat")).permissions();
    if ((mode & std::filesystem::perms::owner_write) != std::filesystem::perms::none)
      defects += "bin/只读.dat is no longer read-only\n";
    return defects;
  }
  std::string RunLog() const { return dir_.Read("exe/update.log"); }

  testsupport::TempFolder dir_;
  std::filesystem::path drive_, install_, documents_, startMenu_;
  bool madeDocuments_ = false;
  std::map<std::string, std::string> oldInstall_, oldStartMenu_;
};

TEST_F(InstallStepUnderWine, FailedOrUnstartableInstallersLeaveTheOldVersionAndSuccessTheNew) {
  // A PE header for x64 and nothing behind it: it passes the check, and the
  // system cannot start it.
  std::string truncated(512, '\0');
  truncated[0] = 'M', truncated[1] = 'Z', truncated[0x3C] = char(0x80);
  truncated.replace(0x80, 6, std::string("PE\0\0\x64\x86", 6));
  struct Case {
    const char* name;
    std::optional<std::string> installer; // none: fake_setup.exe
    int exitCode;
    bool places;
    const char* messageStart;
    const char* messageEnd;
    int status;
    bool uninstalled;
  } cases[] = {
      {"ends with 1", std::nullopt, 1, false, "安装未完成（错误代码 1），已恢复原版本，请重试。",
       "", 1, true},
      {"cannot be started", truncated, 0, false, "安装未完成（错误代码 ",
       "），已恢复原版本，请重试。", 1, true},
      {"an HTML page", "<!DOCTYPE html>\r\n<html><body>404</body></html>\r\n", 0, false,
       "下载的文件已损坏，请重新下载。", "", 2, false},
      {"succeeds", std::nullopt, 0, true, "", "", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallOldVersion();
    std::filesystem::remove(dir_.Utf8("log.txt"));
    std::filesystem::remove(dir_.Utf8("exe/update.log"));
    if (c.installer)
      Installer(*c.installer);
    else
      FakeInstaller();
    auto driver = StartDriver(SetupEnvironment(c.exitCode, c.places));
    EXPECT_EQ(driver->WaitFor(120s), c.status) << dir_.Read("driver.txt") << RunLog();
    // The message box's text (the driver prints it in UTF-8, after the
    // error line in the console's code page).
    const std::string said = dir_.Read("driver.txt");
    const size_t message = said.find(c.messageStart);
    EXPECT_NE(message, std::string::npos) << said;
    EXPECT_NE(said.find(c.messageEnd, message), std::string::npos) << said;
    EXPECT_EQ(dir_.Read("log.txt").find("uninstall /quiet") != std::string::npos, c.uninstalled);
    if (c.status == 0) {
      EXPECT_EQ(ReadFile(install_ / "MQT6.exe"), "V7 program");
      EXPECT_EQ(ReadFile(install_ / "RecentProject.log"), Utf8ToAnsi("D:\\工程\\一号标段.zbs\r\n"));
      EXPECT_FALSE(std::filesystem::exists(winetest::WorkingFolder()));
      continue;
    }
    EXPECT_EQ(OldVersionDefects(), "") << RunLog();
    EXPECT_EQ(std::filesystem::exists(Path(winetest::WorkingFolder() + "/招标工具.exe")),
              c.uninstalled)
        << "the download is kept where it was a program";
    EXPECT_FALSE(std::filesystem::exists(Path(winetest::WorkingFolder() + "/Snapshot")));
    if (c.uninstalled) {
      // CreateHardLinkW within drive C:; the read-only file is copied.
      EXPECT_NE(RunLog().find("snapshot taken files=7 linked=6 copied=1 "), std::string::npos)
          << RunLog();
    }
  }
}

TEST_F(InstallStepUnderWine, TheNextStartPutsTheOldVersionBackAfterAPowerLossDuringTheInstall) {
  FakeInstaller();
  auto driver = StartDriver(SetupEnvironment(0, true, 4000));
  const pid_t group = driver->Pid();
  ASSERT_TRUE(Logged("install /quiet")) << dir_.Read("driver.txt");
  // The updater, the batch file's interpreter and the installer stop at once.
  ::kill(-group, SIGKILL);
  driver->WaitFor(30s);
  for (int i = 0; i < 200 && ::kill(-group, 0) == 0; ++i)
    std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(std::filesystem::exists(Path(winetest::WorkingFolder() + "/Reinstall.ini")));
  EXPECT_FALSE(std::filesystem::exists(install_ / "MQT6.exe"));

  auto update = StartUpdate();
  EXPECT_EQ(update->WaitFor(120s), 1) << dir_.Read("update.txt");
  EXPECT_EQ(OldVersionDefects(), "") << RunLog();
  EXPECT_FALSE(std::filesystem::exists(Path(winetest::WorkingFolder() + "/Reinstall.ini")));
  EXPECT_NE(RunLog().find("recover phase=install action=restore"), std::string::npos) << RunLog();
}

TEST_F(InstallStepUnderWine, ASecondUpdaterEndsAtOnceWhileTheFirstHoldsTheMutex) {
  FakeInstaller();
  auto driver = StartDriver(SetupEnvironment(0, true, 5000));
  ASSERT_TRUE(Logged("install /quiet")) << dir_.Read("driver.txt");
  auto second = StartUpdate();
  EXPECT_EQ(second->WaitFor(60s), 3) << dir_.Read("update.txt");
  EXPECT_NE(RunLog().find(" busy lock="), std::string::npos) << RunLog();
  EXPECT_EQ(driver->WaitFor(120s), 0) << dir_.Read("driver.txt");
  EXPECT_EQ(ReadFile(install_ / "MQT6.exe"), "V7 program");
  // The lock went with its holder.
  auto third = StartUpdate();
  EXPECT_EQ(third->WaitFor(120s), 1) << dir_.Read("update.txt");
}

} // namespace

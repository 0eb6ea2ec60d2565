// The install sequence with a fake uninstaller and a fake installer: the
// order of its steps, the batch files it writes, and what it does when there
// is no install folder, no installer, or the installer fails.
#include "tests/app/install_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace {

using installtest::InstallTest;
using installtest::kInstallFolder;
using installtest::kStartMenu;
using installtest::kWorkingFolder;
using installtest::TInstallForm;
using platform::Utf8ToAnsi;

std::string InstallFolderFile(const char* name) {
  return std::string(kInstallFolder) + name;
}

TEST_F(InstallTest, InstallBacksUpUninstallsInstallsRestoresAndCleansUp) {
  TInstallForm form = Form();
  form.acInstallExecute();
  EXPECT_EQ(ReadLog(), "uninstall /quiet\nbacked up\ninstall /quiet\n");
  EXPECT_EQ(root_.Read(InstallFolderFile("RecentProject.log")), "我的工程\r\n");
  EXPECT_EQ(root_.Read("exe/RecentProject.log"), "我的工程\r\n");
  EXPECT_FALSE(root_.Exists(kWorkingFolder));
  EXPECT_TRUE(form.Closed());
  EXPECT_TRUE(form.messages.empty());
}

TEST_F(InstallTest, BatchFilesHoldAQuotedLinePerProgramInAnsiWithCrLf) {
  // A second qualifying shortcut, a desktop entry in a sub-folder, and one
  // whose name does not carry the product's program.
  const std::string oldUninstaller = std::string(kInstallFolder) + "旧版/uninst.exe";
  WriteProgram(oldUninstaller, "echo \"uninstall old $*\" >> '" + Log() + "'\n");
  root_.Write(std::string(kStartMenu) + "旧版/卸载 MQT6.exe 旧版.desktop",
              "[Desktop Entry]\nExec=\"" + root_.Utf8(oldUninstaller) + "\"\n");
  root_.Write(std::string(kStartMenu) + "卸载 其他.lnk", "not read");
  WriteInstaller(std::string(kWorkingFolder) + "sub/招标工具.exe", 0);
  root_.Write(std::string(kWorkingFolder) + "其他.exe", "");

  TInstallForm form = Form();
  form.UninstallOldVersion();
  EXPECT_EQ(root_.Read(std::string(kWorkingFolder) + "Uninstall.bat"),
            Utf8ToAnsi("\"" + root_.Utf8(kInstallFolder) + "unins000.exe\" /quiet\r\n\"" +
                       root_.Utf8(oldUninstaller) + "\" /quiet\r\n"));
  EXPECT_EQ(ReadLog(), "uninstall /quiet\nuninstall old /quiet\n");

  EXPECT_EQ(form.InstallPackage(), 0u);
  EXPECT_EQ(root_.Read(std::string(kWorkingFolder) + "install.bat"),
            Utf8ToAnsi("\"" + root_.Utf8(kWorkingFolder) + "招标工具.exe\" /quiet\r\n\"" +
                       root_.Utf8(kWorkingFolder) + "sub/招标工具.exe\" /quiet\r\n"));
}

TEST_F(InstallTest, WithoutAQualifyingShortcutUninstallBatIsEmpty) {
  std::filesystem::rename(root_.Utf8(kStartMenu) + "卸载 MQT6.exe.lnk",
                          root_.Utf8(kStartMenu) + "卸载 招标工具.lnk");
  TInstallForm form = Form();
  form.UninstallOldVersion();
  EXPECT_TRUE(root_.Exists(std::string(kWorkingFolder) + "Uninstall.bat"));
  EXPECT_EQ(root_.Read(std::string(kWorkingFolder) + "Uninstall.bat"), "");
  EXPECT_EQ(ReadLog(), "");
}

TEST_F(InstallTest, PathsWithShellCharactersRunAsOneProgramAndNothingElse) {
  const std::string folder = std::string(kWorkingFolder) + "a;b$(touch pwned)`touch pwned`\"q";
  WriteInstaller(folder + "/招标工具.exe", 0);
  TInstallForm form = Form();
  EXPECT_EQ(form.InstallPackage(), 0u);
  EXPECT_EQ(ReadLog(), "install /quiet\ninstall /quiet\n");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.Utf8()))
    EXPECT_NE(entry.path().filename(), "pwned") << entry.path();
}

TEST_F(InstallTest, PercentSignsOfAPathAreDoubledInTheBatchLineAndRunTheRightProgram) {
  const std::string folder = std::string(kWorkingFolder) + "a%PATH%b";
  WriteInstaller(folder + "/招标工具.exe", 0);
  TInstallForm form = Form();
  EXPECT_EQ(form.InstallPackage(), 0u);
  EXPECT_NE(root_.Read(std::string(kWorkingFolder) + "install.bat").find("a%%PATH%%b"),
            std::string::npos);
  EXPECT_EQ(ReadLog(), "install /quiet\ninstall /quiet\n");
}

TEST_F(InstallTest, NoInstallerUninstallsNothingAndSaysSo) {
  std::filesystem::remove(root_.Utf8(kWorkingFolder) + "招标工具.exe");
  TInstallForm form = Form();
  form.acInstallExecute();
  EXPECT_EQ(form.messages, std::vector<std::string>{Utf8ToAnsi("未找到安装程序，请重新下载。")});
  EXPECT_EQ(ReadLog(), "");
  EXPECT_FALSE(root_.Exists(std::string(kWorkingFolder) + "Uninstall.bat"));
  EXPECT_EQ(root_.Read(InstallFolderFile("RecentProject.log")), "我的工程\r\n");
  EXPECT_FALSE(form.Closed());
}

TEST_F(InstallTest, FailedInstallKeepsTheWorkingFolderAndSaysSo) {
  WriteInstaller(std::string(kWorkingFolder) + "招标工具.exe", 3);
  TInstallForm form = Form();
  form.acInstallExecute();
  EXPECT_EQ(form.messages, std::vector<std::string>{
                               Utf8ToAnsi("安装未完成（错误代码 3），已恢复原版本，请重试。")});
  EXPECT_EQ(ReadLog(), "uninstall /quiet\nbacked up\ninstall /quiet\n");
  EXPECT_TRUE(root_.Exists(std::string(kWorkingFolder) + "招标工具.exe"));
  EXPECT_EQ(root_.Read(InstallFolderFile("RecentProject.log")), "我的工程\r\n");
  EXPECT_FALSE(form.Closed());
}

// Changes the current folder for one scope.
class ScopedCurrentFolder {
public:
  explicit ScopedCurrentFolder(const std::string& folder)
      : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedCurrentFolder() { std::filesystem::current_path(saved_); }

private:
  std::filesystem::path saved_;
};

TEST_F(InstallTest, WithoutAnInstallFolderRecentProjectsAreLeftAlone) {
  // Without the key the path would lie in the current folder; with an empty
  // value at the root of the file system.
  root_.Write("exe/RecentProject.log", "older copy");
  root_.MakeFolder("cwd");
  ScopedCurrentFolder cwd(root_.Utf8("cwd"));
  const bool rootHadOne = std::filesystem::exists("/RecentProject.log");
  for (const char* registry : {"", "[SOFTWARE\\Zorva编标工具\\6.0]\r\n",
                               "[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=\r\n"}) {
    SCOPED_TRACE(registry);
    root_.Write("registry.ini", Utf8ToAnsi(registry));
    root_.Write("cwd/RecentProject.log", "not the product's");
    WriteInstaller(std::string(kWorkingFolder) + "招标工具.exe", 0);

    TInstallForm form = Form();
    form.acInstallExecute();
    EXPECT_TRUE(form.Closed());
    EXPECT_EQ(root_.Read("exe/RecentProject.log"), "older copy");
    EXPECT_EQ(root_.Read("cwd/RecentProject.log"), "not the product's");
    EXPECT_EQ(std::filesystem::exists("/RecentProject.log"), rootHadOne);
  }
}

} // namespace

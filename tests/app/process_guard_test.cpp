// The running-product guard and the termination of the product's processes,
// with dummy processes named like the product (copies of /bin/sleep) that
// this test starts. The form sees only these processes, and the tests of
// this program hold the CTest lock "product_processes", so no other test's
// process named like the product is ever seen or touched.
#include "tests/app/install_fixture.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;
using installtest::InstallTest;
using installtest::kWorkingFolder;
using installtest::TInstallForm;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

class ProcessGuardTest : public InstallTest {
protected:
  // Starts a copy of sleep saved as `name` (in a folder of its own, so that
  // names may differ only in case), or a sleep whose argv[0] is `name`.
  ChildProcess& Start(TInstallForm& form, const std::string& name, bool argv0Only = false) {
    const std::string folder = root_.Utf8("bin" + std::to_string(children_.size()) + "/");
    std::filesystem::create_directories(folder);
    std::vector<std::string> argv;
    if (argv0Only) {
      argv = {"/bin/bash", "-c", "exec -a '" + name + "' /bin/sleep 600"};
    } else {
      std::filesystem::copy_file("/bin/sleep", folder + name);
      argv = {folder + name, "600"};
    }
    children_.push_back(std::make_unique<ChildProcess>(
        argv, std::map<std::string, std::optional<std::string>>{}, folder + "output.txt"));
    form.ownProcesses.insert(static_cast<uint32_t>(children_.back()->Pid()));
    return *children_.back();
  }

  std::vector<std::unique_ptr<ChildProcess>> children_;
};

TEST_F(ProcessGuardTest, ProductIsFoundByFileNameOrWholeTextIgnoringCase) {
  struct Case {
    const char* name;
    bool argv0Only;
    bool running;
  } cases[] = {
      {"MQT6.exe", false, true},           {"mqt6.EXE", false, true},
      {"/opt/zorva/MQT6.exe", true, true}, {"C:\\Program Files\\Zorva\\MQT6.exe", true, true},
      {"MQT6.exe.bak", false, false},      {"xMQT6.exe", false, false},
      {"C:\\Zorva\\mqt6.EXE", true, true}, {"MQV6.exe", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TInstallForm form = Form();
    ChildProcess& child = Start(form, c.name, c.argv0Only);
    // The snapshot may be taken before bash has become sleep.
    for (int i = 0; i < 100 && c.argv0Only && !form.IsProcessRunning("sleep"); ++i)
      std::this_thread::sleep_for(20ms);
    EXPECT_EQ(form.IsProcessRunning("MQT6.exe"), c.running);
    child.Stop();
  }
  TInstallForm form = Form();
  EXPECT_FALSE(form.IsProcessRunning(""));
}

TEST_F(ProcessGuardTest, InstallIsRefusedWhileTheProductRunsAndNothingChanges) {
  TInstallForm form = Form();
  Start(form, "mqt6.exe");
  form.acInstallExecute();
  EXPECT_EQ(form.messages,
            std::vector<std::string>{Utf8ToAnsi("无法安装：您有招标工具在运行中，"
                                                "请先保存您的工程并关闭招标工具，再进行安装。")});
  EXPECT_EQ(ReadLog(), "");
  EXPECT_FALSE(root_.Exists("exe/RecentProject.log"));
  EXPECT_FALSE(root_.Exists(std::string(kWorkingFolder) + "Uninstall.bat"));
  EXPECT_TRUE(root_.Exists(std::string(kWorkingFolder) + "招标工具.exe"));
  EXPECT_FALSE(form.Closed());
}

TEST_F(ProcessGuardTest, TerminationEndsEveryCopyOfTheProductAndNothingElse) {
  TInstallForm form = Form();
  ChildProcess* copies[] = {&Start(form, "MQT6.exe"), &Start(form, "MQT6.exe"),
                            &Start(form, "MQT6.exe")};
  ChildProcess& bidTool = Start(form, "MQV6.exe");
  ChildProcess& other = Start(form, "sleep");
  form.TerminateProductProcesses();
  for (ChildProcess* copy : copies)
    EXPECT_EQ(copy->WaitFor(10s), 128 + 9);
  EXPECT_FALSE(bidTool.WaitFor(0ms).has_value());
  EXPECT_FALSE(other.WaitFor(0ms).has_value());
  EXPECT_FALSE(form.IsProcessRunning("MQT6.exe"));
}

} // namespace

// tools/demo, the README's first command, run as a user runs it but with
// this build of the program and a sandbox of the test's own: the program
// road clicked through on a virtual display ends with the new version in the
// demo product folder; the template road needs no display; without a display
// the program road says how to get one. In every case the demo's nginx is
// gone when the demo has ended.
#include "platform/CodePage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

const char* const kProduct = "demo/drive-c/Program Files/Zorva/招标工具/";

class DemoRoadTest : public ::testing::Test {
protected:
  // A demo still running after a failure is asked to end, so that its trap
  // stops the updater and nginx it started.
  ~DemoRoadTest() override {
    if (demo_) demo_->Stop();
  }

  // Starts tools/demo with `args` and the display `display` (none: unset).
  void StartDemo(std::vector<std::string> args, std::optional<std::string> display) {
    std::vector<std::string> argv{"/bin/bash", UPDATER_SOURCE_DIR "/tools/demo",
                                  "--program", UPDATER_UPDATE_PROGRAM,
                                  "--sandbox", dir_.Utf8("demo")};
    argv.insert(argv.end(), args.begin(), args.end());
    demo_ = std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        dir_.Utf8("demo.txt"));
  }
  // The demo's exit code once it has ended, and its output.
  int Ended(std::chrono::seconds limit = 60s) {
    EXPECT_TRUE(HasEnded(limit)) << "the demo did not end:\n" << Output();
    return exitCode_.value_or(-1);
  }
  bool HasEnded(std::chrono::seconds limit) {
    if (!exitCode_) exitCode_ = demo_->WaitFor(limit);
    return exitCode_.has_value();
  }
  std::string Output() const { return dir_.Read("demo.txt"); }
  // True once the demo's nginx has logged a request whose line holds `text`.
  bool ServerSaw(const std::string& text, std::chrono::seconds limit = 30s) const {
    for (auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms))
      if (dir_.Read("demo/nginx/access.log").find(text) != std::string::npos) return true;
    return false;
  }
  // The demo's server port, from the line it prints, must be closed again.
  void ExpectServerStopped() const {
    const std::string output = Output();
    const size_t at = output.find("http://127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_FALSE(testsupport::Accepts(std::atoi(output.c_str() + at + 17))) << "nginx still runs";
  }

  testsupport::TempFolder dir_;
  std::unique_ptr<ChildProcess> demo_;
  std::optional<int> exitCode_;
};

TEST_F(DemoRoadTest, ProgramRoadEndsWithTheNewVersionInTheProductFolder) {
  testsupport::VirtualDisplay display(dir_.Utf8("xvfb.log"));
  StartDemo({}, display.Name());
  auto window = testsupport::FindWindow(display, "在线升级", 30s);
  ASSERT_TRUE(window.has_value()) << Output();
  ASSERT_TRUE(ServerSaw("Version.xml")) << Output();
  std::this_thread::sleep_for(500ms); // the offer is drawn
  // 立即更新, then, once the installer is in, 确定 of the install prompt. A
  // loaded machine may draw the prompt late, and a program named like the
  // product that runs elsewhere on the machine makes the updater refuse (the
  // box 提示): 确定 is clicked again until the demo ends. Where the prompt is
  // not yet drawn, the click lands on an empty part of the progress panel.
  testsupport::ClickAt(display, window->left + 1 + 229 + 38, window->top + 38 + 61 + 13);
  ASSERT_TRUE(ServerSaw(".exe HTTP/1.1\" 206")) << "the download did not end";
  for (int attempt = 0; attempt < 30 && !HasEnded(2s); ++attempt) {
    if (auto box = testsupport::FindWindow(display, "提示", 0s))
      testsupport::KeyAt(display, box->left + box->width / 2, box->top + box->height / 2, "Return");
    testsupport::ClickAt(display, window->left + 1 + 233 + 37, window->top + 38 + 136 + 16);
  }

  EXPECT_EQ(Ended(), 0) << Output();
  EXPECT_EQ(dir_.Read(std::string(kProduct) + "version.txt"), "7\n");
  EXPECT_EQ(dir_.Read(std::string(kProduct) + "RecentProject.log"),
            Utf8ToAnsi("D:\\工程\\一号标段.zbs\r\nD:\\工程\\二号标段.zbs\r\n"));
  EXPECT_EQ(dir_.Read("demo/install.log"), "uninstall V6 /quiet\ninstall V7 /quiet\n");
  EXPECT_FALSE(dir_.Exists("demo/tmp/MQTUpdate"));
  EXPECT_NE(dir_.Read("demo/app/VersionCfg.ini").find("CurVersion=7\r\n"), std::string::npos);
  EXPECT_NE(Output().find("the new version is installed"), std::string::npos) << Output();
  EXPECT_NE(Output().find("RecentProject.log: kept"), std::string::npos) << Output();
  ExpectServerStopped();
}

TEST_F(DemoRoadTest, TemplateRoadRefreshesWithoutADisplayAndSaysWhatChanged) {
  StartDemo({"--template"}, std::nullopt);
  EXPECT_EQ(Ended(), 0) << Output();
  EXPECT_NE(Output().find("version 2 -> 3"), std::string::npos) << Output();
  EXPECT_NE(Output().find("now: 第一章 招标公告（2024 年版"), std::string::npos) << Output();
  const std::string published = dir_.Read("demo/server/" + Utf8ToAnsi("招标示范文本") + "/T3/" +
                                          Utf8ToAnsi("施工招标") + ".sfwb");
  ASSERT_FALSE(published.empty());
  EXPECT_TRUE(dir_.Read("demo/app/招标示范文本/施工招标.sfwb") == published);
  ExpectServerStopped();
}

TEST_F(DemoRoadTest, WithoutADisplayTheProgramRoadSaysHowToGetOneAndTouchesNothing) {
  StartDemo({}, std::nullopt);
  EXPECT_EQ(Ended(), 1);
  const std::string output = Output();
  EXPECT_NE(output.find("xvfb-run"), std::string::npos) << output;
  EXPECT_EQ(output.find('\n'), output.size() - 1) << "more than one line:\n" << output;
  EXPECT_FALSE(dir_.Exists("demo"));
}

} // namespace

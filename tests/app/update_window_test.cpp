// The real `update` program: its window under a virtual X display, found by
// its caption, and runs that end during start-up without touching a display.
// Each test copies the program into a folder of its own, beside the
// configuration files it needs, and stops what it started by process id.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::FindWindow;
using testsupport::ReadFile;
using testsupport::VirtualDisplay;

class UpdateProgramTest : public ::testing::Test {
protected:
  UpdateProgramTest() {
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, folder_.Utf8("update"));
    folder_.MakeFolder("tmp");
  }

  // A configuration whose update server refuses every connection at once.
  void WriteConfig() {
    folder_.Write("VersionCfg.ini", "[Version]\r\nCurVersion=1\r\n[HTTP]\r\n"
                                    "URLUseCDN=http://127.0.0.1:1/\r\n"
                                    "URLWithnotCDN=http://127.0.0.1:1/\r\n");
  }

  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                      std::optional<std::string> display) {
    std::vector<std::string> argv{folder_.Utf8("update")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display},
            {"TMPDIR", folder_.Utf8("tmp")},
            {"UPDATE_REGISTRY_FILE", folder_.Utf8("registry.ini")},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        folder_.Utf8("output.txt"));
  }
  std::string Output() const { return ReadFile(folder_.Utf8("output.txt")); }

  testsupport::TempFolder folder_;
};

TEST_F(UpdateProgramTest, RunsThatEndDuringStartUpNeverOpenADisplay) {
  WriteConfig();
  folder_.Write("Region.ini", "[Region]\r\nRegion=1\r\n");
  // Sample-text mode and the silent check of program-update mode, each with
  // no display at all and with one that does not exist. The server cannot be
  // reached: the run ends with status 1 and says why on standard error, in
  // exactly its own words.
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  for (const Case& c :
       {Case{{"-ZB", "施工"},
             "无法连接到更新服务器：http://127.0.0.1:1/"
             "%D5%D0%B1%EA%CA%BE%B7%B6%CE%C4%B1%BE/Version.xml\n"},
        Case{{"-TB"},
             "无法连接到更新服务器：http://127.0.0.1:1/%CD%B6%B1%EA%B9%A4%BE%DF/Version.xml\n"}}) {
    for (std::optional<std::string> display :
         {std::optional<std::string>(), std::optional<std::string>(":987")}) {
      SCOPED_TRACE(c.args.size() == 2 ? "sample-text mode" : "program-update mode");
      auto program = Start(c.args, display);
      auto status = program->WaitFor(30s);
      ASSERT_TRUE(status.has_value()) << "still running";
      EXPECT_EQ(*status, 1) << Output();
      EXPECT_EQ(Output(), c.reason);
    }
  }
}

TEST_F(UpdateProgramTest, RunThatShowsTheWindowSaysWhyItCannotWithoutADisplay) {
  // The counterpart of the test above: this start shows the window, so
  // without a display it fails instead of ending quietly, in its own words
  // and not in the window system's.
  WriteConfig();
  for (std::optional<std::string> display :
       {std::optional<std::string>(), std::optional<std::string>(":987")}) {
    auto program = Start({"-ZB", "施工"}, display);
    auto status = program->WaitFor(30s);
    ASSERT_TRUE(status.has_value()) << "still running";
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(Output(), "无法显示在线升级窗口：没有可用的显示器（DISPLAY）。\n");
  }
}

class UpdateWindowTest : public UpdateProgramTest {
protected:
  UpdateWindowTest() : display_(folder_.Utf8("xvfb.log")) {}

  // The window of a started program, checked to be centred on the 1280 x 1024
  // screen with the given size.
  void ExpectWindow(ChildProcess& program, int width, int height) {
    auto place = FindWindow(display_, "在线升级", 20s);
    ASSERT_TRUE(place.has_value()) << "no window; program output:\n" << Output();
    EXPECT_EQ(place->width, width);
    EXPECT_EQ(place->height, height);
    EXPECT_EQ(place->left, (1280 - width) / 2);
    EXPECT_EQ(place->top, (1024 - height) / 2);
    EXPECT_FALSE(program.WaitFor(0ms).has_value()) << "the program ended with the window up";
  }

  VirtualDisplay display_;
};

TEST_F(UpdateWindowTest, WithoutConfigTheWindowIsFullHeight) {
  auto program = Start({"-ZB"}, display_.Name());
  ExpectWindow(*program, 424, 640);
  program->Stop();
}

TEST_F(UpdateWindowTest, WithConfigTheWindowIsShrunkToTheCheckingPanel) {
  WriteConfig();
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-ZB"}, std::vector<std::string>{"-TB", "施工"}}) {
    SCOPED_TRACE(args.size() == 2 ? "sample-text mode" : "program-update mode");
    auto program = Start(args, display_.Name());
    ExpectWindow(*program, 424, 270);
    program->Stop();
  }
}

TEST_F(UpdateWindowTest, ClickOnTheCloseGlyphEndsTheProgram) {
  WriteConfig();
  auto program = Start({"-ZB"}, display_.Name());
  auto place = FindWindow(display_, "在线升级", 20s);
  ASSERT_TRUE(place.has_value()) << Output();
  // The glyph is 9 x 11 at (405, 7) of the title band.
  display_.Run("xdotool mousemove " + std::to_string(place->left + 409) + " " +
               std::to_string(place->top + 12) + " click 1");
  auto status = program->WaitFor(10s);
  ASSERT_TRUE(status.has_value()) << "the window stayed open";
  EXPECT_EQ(*status, 0);
}

} // namespace

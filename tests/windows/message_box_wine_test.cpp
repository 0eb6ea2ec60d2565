// The message boxes of the Windows program under Wine: the probe of
// tests/common, built for Windows with the updater's manifest, shows one
// dialog on a virtual display; the test keeps its picture in
// test-artefacts/message-boxes-wine/, answers it from the keyboard and reads
// what the call returned.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/windows/WineSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class MessageBoxUnderWine : public ::testing::Test {
protected:
  MessageBoxUnderWine() : display_(dir_.Utf8("xvfb.log")) {
    EXPECT_TRUE(winetest::WaitForWineServerEnd(dir_.Utf8("wineserver.log")));
  }
  ~MessageBoxUnderWine() override { winetest::WaitForWineServerEnd(dir_.Utf8("wineserver.log")); }

  testsupport::TempFolder dir_;
  testsupport::VirtualDisplay display_;
};

TEST_F(MessageBoxUnderWine, DialogsShowTheirCaptionAndAnswerWithTheirButtons) {
  const std::string question = "检测到您的下载速度过慢，是否继续下载？";
  struct Case {
    const char* picture;
    std::vector<std::string> args;
    const char* caption;
    const char* key;
    const char* answer;
  } cases[] = {
      // The slow-transfer question: a task dialog with Yes and No, Yes first.
      {"ask-task-dialog", {"ask", "0", "1", question}, "确认", "Return", "result=6"},
      // Another default button needs the message box: No is the default.
      {"ask-default-no", {"ask", "1", "2", question}, "确认", "Return", "result=7"},
      // The refusal to install: a notice with OK and nothing to return.
      {"information",
       {"info", "无法安装：您有招标工具在运行中，请先保存您的工程并关闭招标工具，再进行安装。"},
       "提示",
       "Return",
       "result=none"},
      // A button set of the task dialog alone: the message box would show OK
      // and answer 1.
      {"task-close-only", {"task", "提示", "0", "32", "关闭"}, "提示", "Return", "result=8"},
      // Escape cancels a dialog that offers Cancel.
      {"task-escape", {"task", "确认", "99", "9", "继续吗？"}, "确认", "Escape", "result=2"},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    const std::string output = dir_.Utf8("probe-" + std::to_string(++run) + ".txt");
    std::vector<std::string> args{UPDATER_WINDOWS_TEST_PROGRAMS "/message_box_probe_win.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto probe = winetest::StartWine(args, display_.Name(), output);
    auto place = winetest::FindSettledWindow(display_, c.caption, 60s);
    ASSERT_TRUE(place.has_value()) << testsupport::ReadFile(output);
    EXPECT_GT(testsupport::TakeDrawnScreenshot(display_, *place,
                                               UPDATER_ARTEFACT_DIR "/message-boxes-wine/" +
                                                   std::string(c.picture) + ".png",
                                               20s),
              2)
        << place->width << "x" << place->height << "+" << place->left << "+" << place->top;
    testsupport::KeyAt(display_, place->left + place->width / 2, place->top + place->height / 2,
                       c.key);
    auto code = probe->WaitFor(30s);
    ASSERT_TRUE(code.has_value()) << "the dialog stayed";
    EXPECT_EQ(*code, 0);
    std::string answer = testsupport::ReadFile(output);
    EXPECT_NE(answer.find(c.answer), std::string::npos) << answer;
  }
}

} // namespace

// The message boxes on a virtual display: a probe program shows one, the
// test finds it by its caption, keeps a picture of it in the build tree
// (test-artefacts/message-boxes/) and answers it with a key or a click at a
// button's place, then reads what the call returned.
//
// The dialog's layout: buttons 88 x 26, 8 apart, in a row that ends 12 pixels
// from the window's right and bottom edges.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::WindowPlace;

const char* const kSlowQuestion = "检测到您的下载速度过慢，是否继续下载？";
const char* const kRefusal =
    "无法安装：您有招标工具在运行中，请先保存您的工程并关闭招标工具，再进行安装。";

struct ShownDialog {
  std::unique_ptr<ChildProcess> probe;
  std::string outputFile;
  WindowPlace place{};
};

class MessageBoxWindowTest : public ::testing::Test {
protected:
  MessageBoxWindowTest() : display_(folder_.Utf8("xvfb.log")) {}

  // Starts the probe, waits for its dialog and keeps its picture as
  // `picture`.png. Fails the test (returning no probe) when none shows.
  ShownDialog Show(const std::vector<std::string>& args, const std::string& caption,
                   const std::string& picture) {
    ShownDialog shown;
    shown.outputFile = folder_.Utf8("probe-" + std::to_string(++runs_) + ".txt");
    std::vector<std::string> argv{UPDATER_MESSAGE_BOX_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    shown.probe = std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display_.Name()},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        shown.outputFile);
    auto place = testsupport::FindWindow(display_, caption, 20s);
    EXPECT_TRUE(place.has_value()) << "no dialog \"" << caption << "\"; probe output:\n"
                                   << testsupport::ReadFile(shown.outputFile);
    if (!place) {
      shown.probe.reset();
      return shown;
    }
    shown.place = *place;
    const int colours = testsupport::TakeScreenshot(
        display_, shown.place, UPDATER_ARTEFACT_DIR "/message-boxes/" + picture + ".png");
    EXPECT_GT(colours, 2) << "the dialog shows nothing";
    return shown;
  }

  // The probe's answer once it has ended, or "still open".
  std::string Answer(ShownDialog& shown) {
    auto status = shown.probe->WaitFor(10s);
    if (!status) return "still open";
    EXPECT_EQ(*status, 0);
    std::string output = testsupport::ReadFile(shown.outputFile);
    while (!output.empty() && output.back() == '\n')
      output.pop_back();
    return output;
  }

  void Key(const ShownDialog& shown, const std::string& key) {
    testsupport::KeyAt(display_, shown.place.left + 10, shown.place.top + 10, key);
  }

  // Clicks button `index` (from 0, left to right) of `count`.
  void ClickButton(const ShownDialog& shown, int index, int count) {
    const int fromRight = count - 1 - index;
    const int x = shown.place.left + shown.place.width - 12 - fromRight * (88 + 8) - 44;
    const int y = shown.place.top + shown.place.height - 12 - 13;
    testsupport::ClickAt(display_, x, y);
  }

  testsupport::TempFolder folder_;
  testsupport::VirtualDisplay display_;
  int runs_ = 0;
};

TEST_F(MessageBoxWindowTest, ConfirmationIsAYesNoQuestionWhoseDefaultAnswersReturn) {
  ShownDialog yesNo = Show({"ask", "0", "1", kSlowQuestion}, "确认", "ask_yes_no");
  ASSERT_TRUE(yesNo.probe);
  Key(yesNo, "Return");
  EXPECT_EQ(Answer(yesNo), "result=6");

  // Default button 2 goes to the message box, which can set it.
  ShownDialog withCancel = Show({"ask", "1", "2", kSlowQuestion}, "确认", "ask_yes_no_cancel");
  ASSERT_TRUE(withCancel.probe);
  EXPECT_GE(withCancel.place.width, 3 * 88 + 2 * 8 + 24);
  Key(withCancel, "Return");
  EXPECT_EQ(Answer(withCancel), "result=7");
}

TEST_F(MessageBoxWindowTest, InformationWrapsALongTextAndClosesWithItsOkButton) {
  ShownDialog info = Show({"info", kRefusal}, "提示", "information");
  ASSERT_TRUE(info.probe);
  // One line of the text at 14 pixels would be about 560 pixels wide.
  EXPECT_LT(info.place.width, 500);
  ClickButton(info, 0, 1);
  EXPECT_EQ(Answer(info), "result=none");
}

TEST_F(MessageBoxWindowTest, TaskDialogShowsTheSetsOwnButtonsAndTheFallbackItsTableStyle) {
  // Cancel | Retry | Close with the error icon: the task dialog shows Retry,
  // Cancel, Close and Retry is the default; the message box in its place
  // shows Abort, Retry, Ignore.
  ShownDialog task =
      Show({"task", "出错了", "98", "56", "连接服务器失败。"}, "出错了", "task_retry_cancel_close");
  ASSERT_TRUE(task.probe);
  Key(task, "Return");
  EXPECT_EQ(Answer(task), "result=4");

  task =
      Show({"task", "出错了", "98", "56", "连接服务器失败。"}, "出错了", "task_retry_cancel_close");
  ASSERT_TRUE(task.probe);
  ClickButton(task, 2, 3);
  EXPECT_EQ(Answer(task), "result=8");

  ShownDialog classic = Show({"classic", "出错了", "98", "56", "连接服务器失败。"}, "出错了",
                             "classic_abort_retry_ignore");
  ASSERT_TRUE(classic.probe);
  Key(classic, "Return");
  EXPECT_EQ(Answer(classic), "result=3");

  classic = Show({"classic", "出错了", "98", "56", "连接服务器失败。"}, "出错了",
                 "classic_abort_retry_ignore");
  ASSERT_TRUE(classic.probe);
  ClickButton(classic, 2, 3);
  EXPECT_EQ(Answer(classic), "result=5");

  // Outside the tables: one OK button and no icon.
  classic = Show({"classic", "其他", "12", "3", "没有图标。"}, "其他", "classic_other");
  ASSERT_TRUE(classic.probe);
  Key(classic, "Return");
  EXPECT_EQ(Answer(classic), "result=1");
}

TEST_F(MessageBoxWindowTest, EscapeAnswersCancelCloseOrALoneOkAndNeverAYesNoQuestion) {
  struct Case {
    const char* buttonSet;
    const char* iconId;
    const char* answer;
  } cases[] = {{"14", "81", "result=2"},
               {"33", "98", "result=8"},
               {"1", "107", "result=1"},
               {"0", "0", "result=1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttonSet);
    ShownDialog shown = Show({"task", "关闭", c.iconId, c.buttonSet, "按 Esc 键。"}, "关闭",
                             std::string("escape_") + c.buttonSet);
    ASSERT_TRUE(shown.probe);
    Key(shown, "Escape");
    EXPECT_EQ(Answer(shown), c.answer);
  }

  ShownDialog yesNo = Show({"task", "关闭", "99", "6", "按 Esc 键。"}, "关闭", "escape_6");
  ASSERT_TRUE(yesNo.probe);
  Key(yesNo, "Escape");
  // Pressing a key after Escape shows the dialog read it and stayed.
  Key(yesNo, "Return");
  EXPECT_EQ(Answer(yesNo), "result=6");
}

} // namespace

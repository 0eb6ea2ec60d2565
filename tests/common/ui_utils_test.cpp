// The message boxes without a display: the tables that stand in for the task
// dialog, and every call answering 0 at once instead of opening a display.
// Each test runs in a process of its own, so each sees the display test anew.
#include "common/ZorvaUiUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(UiUtils, ButtonSetsMapToTheNearestMessageBoxStyle) {
  struct Case {
    int32_t buttonSet;
    uint32_t style;
  } cases[] = {
      {1, 0},
      {9, 1},
      {56, 2},
      {14, 3},
      {6, 4},
      {24, 5},
      // any other value: OK
      {0, 0},
      {2, 0},
      {8, 0},
      {57, 0},
      {63, 0},
      {-1, 0},
      {0x7FFFFFFF, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttonSet);
    EXPECT_EQ(MessageBoxButtonStyle(c.buttonSet), c.style);
  }
}

TEST(UiUtils, IconIdsMapToMessageBoxIcons) {
  struct Case {
    int32_t iconId;
    uint32_t flag;
  } cases[] = {
      {81, 0x40},
      {106, 0x40},
      {84, 0x30},
      {107, 0x30},
      {98, 0x10},
      {105, 0x10},
      {99, 0x20},
      {104, 0x20},
      // any other value: no icon
      {0, 0},
      {80, 0},
      {82, 0},
      {100, 0},
      {103, 0},
      {108, 0},
      {-81, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iconId);
    EXPECT_EQ(MessageBoxIconFlag(c.iconId), c.flag);
  }
}

#ifndef _WIN32
// On Windows the system's dialogs always show; these tests are about the
// Linux stand-ins without a display.
void ExpectEveryCallAnswersZero() {
  for (bool task : {true, false}) {
    SetUseTaskDialogs(task);
    EXPECT_EQ(ShowTaskMessage("text", "caption", 81, 1), 0);
    EXPECT_EQ(ShowTaskMessage("text", "caption", 99, 56), 0);
  }
  SetUseTaskDialogs(true);
  EXPECT_EQ(ShowMessageBox("text", "caption", 0x24), 0);
  EXPECT_EQ(AskConfirmation("text", false, 1), 0);
  EXPECT_EQ(AskConfirmation("text", true, 2), 0);
  ShowInformation("text");
}

TEST(UiUtils, WithoutADisplayEveryCallAnswersZero) {
  ::unsetenv("DISPLAY");
  ExpectEveryCallAnswersZero();
}

TEST(UiUtils, ADisplayThatCannotBeOpenedCountsAsNone) {
  // Opening it with the window toolkit would end the process.
  ::setenv("DISPLAY", ":987", 1);
  ExpectEveryCallAnswersZero();
}
#endif

} // namespace

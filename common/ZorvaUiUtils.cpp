#include "common/ZorvaUiUtils.h"

#include "platform/CodePage.h"
#include "platform/MessageDialog.h"

#include <atomic>

namespace {

const platform::AnsiText kConfirmCaption{"确认"};
const platform::AnsiText kNoticeCaption{"提示"};

constexpr int32_t kIconInformation = 81;
constexpr int32_t kIconQuestion = 99;

std::atomic<bool> useTaskDialogs{true};

} // namespace

uint32_t MessageBoxButtonStyle(int32_t buttonSet) {
  switch (buttonSet) {
  case platform::tdcbOk | platform::tdcbCancel:
    return platform::mbOkCancel;
  case platform::tdcbCancel | platform::tdcbRetry | platform::tdcbClose:
    return platform::mbAbortRetryIgnore;
  case platform::tdcbYes | platform::tdcbNo | platform::tdcbCancel:
    return platform::mbYesNoCancel;
  case platform::tdcbYes | platform::tdcbNo:
    return platform::mbYesNo;
  case platform::tdcbCancel | platform::tdcbRetry:
    return platform::mbRetryCancel;
  default:
    return platform::mbOk;
  }
}

uint32_t MessageBoxIconFlag(int32_t iconId) {
  switch (iconId) {
  case 81:
  case 106:
    return platform::mbIconInformation;
  case 84:
  case 107:
    return platform::mbIconWarning;
  case 98:
  case 105:
    return platform::mbIconError;
  case 99:
  case 104:
    return platform::mbIconQuestion;
  default:
    return 0;
  }
}

void SetUseTaskDialogs(bool use) {
  useTaskDialogs = use;
}

bool UseTaskDialogs() {
  return useTaskDialogs;
}

int32_t ShowTaskMessage(const std::string& text, const std::string& caption, int32_t iconId,
                        int32_t buttonSet) {
  if (useTaskDialogs) {
    if (std::optional<int32_t> result = platform::ShowTaskDialog(text, caption, iconId, buttonSet))
      return *result;
  }
  const uint32_t style = MessageBoxButtonStyle(buttonSet) | MessageBoxIconFlag(iconId);
  return ShowMessageBox(text, caption, static_cast<int32_t>(style));
}

int32_t ShowMessageBox(const std::string& text, const std::string& caption, int32_t flags) {
  return platform::ShowMessageDialog(text, caption, static_cast<uint32_t>(flags));
}

int32_t AskConfirmation(const std::string& text, bool withCancel, int32_t defaultButton) {
  if (defaultButton == 1) {
    // The task dialog picks its default button itself.
    return ShowTaskMessage(text, kConfirmCaption, kIconQuestion,
                           withCancel ? platform::tdcbYes | platform::tdcbNo | platform::tdcbCancel
                                      : platform::tdcbYes | platform::tdcbNo);
  }
  uint32_t style =
      platform::mbIconQuestion | (withCancel ? platform::mbYesNoCancel : platform::mbYesNo);
  switch (defaultButton) {
  case 2:
    style |= platform::mbDefButton2;
    break;
  case 3:
    style |= platform::mbDefButton3;
    break;
  case 4:
    style |= platform::mbDefButton4;
    break;
  default:
    break;
  }
  return ShowMessageBox(text, kConfirmCaption, static_cast<int32_t>(style));
}

void ShowInformation(const std::string& text) {
  ShowTaskMessage(text, kNoticeCaption, kIconInformation, platform::tdcbOk);
}

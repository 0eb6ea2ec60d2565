// The update window on Windows, before its Win32 view exists: a run that
// gets as far as showing the window shows the start-up error, if any, says
// in a message box that the window is not available in this build, and ends
// with exit code 2. The runs without a window (sample-text mode, a silent
// check that finds nothing new) end before this is called.
#include "app/UpdateWindow.h"

#include "platform/CodePage.h"
#include "platform/MessageDialog.h"

namespace {
const platform::AnsiText kCaption{"在线升级"};
const platform::AnsiText kNoWindow{"此版本的升级程序不能显示升级窗口。"};
constexpr int kNoWindowExitCode = 2;
} // namespace

int RunUpdateWindow(TUpdateForm& /*form*/, const std::optional<std::string>& startupError) {
  if (startupError)
    platform::ShowMessageDialog(*startupError, kCaption, platform::mbOk | platform::mbIconError);
  platform::ShowMessageDialog(kNoWindow, kCaption, platform::mbOk | platform::mbIconWarning);
  return kNoWindowExitCode;
}

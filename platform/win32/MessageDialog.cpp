// The dialogs on Windows: the system's message box. The task dialog of
// comctl32 comes with the window (it needs the program's manifest for
// version 6 of the common controls); until then callers get the message box.
#include "platform/MessageDialog.h"

#include <windows.h>

namespace platform {

std::optional<int32_t> ShowTaskDialog(const std::string& /*text*/, const std::string& /*caption*/,
                                      int32_t /*iconId*/, int32_t /*buttons*/) {
  return std::nullopt;
}

int32_t ShowMessageDialog(const std::string& text, const std::string& caption, uint32_t style) {
  // Task-modal: the updater's other windows take no input meanwhile.
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style | MB_TASKMODAL);
}

} // namespace platform

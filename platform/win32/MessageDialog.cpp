// The dialogs on Windows: the task dialog of the common controls, version 6,
// where the system has it, and the classic message box.
//
// TaskDialog is looked up at run time: version 6 of comctl32, which exports
// it, is loaded only for a program whose manifest asks for it (the updater's
// does), and systems before Windows Vista have none. Without it the caller
// falls back to the message box.
#include "platform/MessageDialog.h"

#include "platform/win32/WideText.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

namespace platform {
namespace {

using TTaskDialog = HRESULT(WINAPI*)(HWND, HINSTANCE, PCWSTR, PCWSTR, PCWSTR,
                                     TASKDIALOG_COMMON_BUTTON_FLAGS, PCWSTR, int*);

TTaskDialog FindTaskDialog() {
  static const TTaskDialog function = [] {
    // Kept loaded for the life of the process, as the dialogs may come back.
    HMODULE module = LoadLibraryW(L"comctl32.dll");
    if (!module) return TTaskDialog{};
    return reinterpret_cast<TTaskDialog>(
        reinterpret_cast<void*>(GetProcAddress(module, "TaskDialog")));
  }();
  return function;
}

// Keeps the application's other windows from taking input while a modal
// dialog is up, as a modal dialog does, and gives the activation and the
// focus back afterwards.
class TModalScope {
public:
  explicit TModalScope(HWND owner) : owner_(owner), focus_(GetFocus()) {
    EnumThreadWindows(GetCurrentThreadId(), &TModalScope::Disable, reinterpret_cast<LPARAM>(this));
  }
  ~TModalScope() {
    for (HWND window : disabled_)
      if (IsWindow(window)) EnableWindow(window, TRUE);
    if (owner_ && IsWindow(owner_)) SetActiveWindow(owner_);
    if (focus_ && IsWindow(focus_)) SetFocus(focus_);
  }
  TModalScope(const TModalScope&) = delete;
  TModalScope& operator=(const TModalScope&) = delete;

private:
  static BOOL CALLBACK Disable(HWND window, LPARAM self) {
    auto* scope = reinterpret_cast<TModalScope*>(self);
    // The owner is disabled by the dialog itself.
    if (window != scope->owner_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
      EnableWindow(window, FALSE);
      scope->disabled_.push_back(window);
    }
    return TRUE;
  }

  HWND owner_;
  HWND focus_;
  std::vector<HWND> disabled_;
};

} // namespace

bool DisplayAvailable() {
  return true;
}

std::optional<int32_t> ShowTaskDialog(const std::string& text, const std::string& caption,
                                      int32_t iconId, int32_t buttons) {
  const TTaskDialog taskDialog = FindTaskDialog();
  if (!taskDialog) return std::nullopt;
  const std::wstring wideText = win32::AnsiToWide(text);
  const std::wstring wideCaption = win32::AnsiToWide(caption);
  // The icon id goes to the dialog as it is: a system icon, no module of ours.
  const PCWSTR icon = MAKEINTRESOURCEW(static_cast<WORD>(iconId));
  HWND owner = GetActiveWindow();
  int pressed = 0;
  HRESULT result;
  {
    TModalScope modal(owner);
    result = taskDialog(owner, nullptr, wideCaption.c_str(), nullptr, wideText.c_str(),
                        static_cast<TASKDIALOG_COMMON_BUTTON_FLAGS>(buttons), icon, &pressed);
  }
  // A dialog that failed answers nothing, so a caller waiting for Yes or OK
  // takes its negative path.
  if (FAILED(result)) return idNone;
  return pressed;
}

int32_t ShowMessageDialog(const std::string& text, const std::string& caption, uint32_t style) {
  // Task-modal: the updater's other windows take no input meanwhile.
  return MessageBoxW(nullptr, win32::AnsiToWide(text).c_str(), win32::AnsiToWide(caption).c_str(),
                     style | MB_TASKMODAL);
}

} // namespace platform

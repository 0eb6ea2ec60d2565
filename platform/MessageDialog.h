#pragma once
// The system's modal dialogs for messages and questions: the task dialog,
// where the system has one, and the classic message box. Texts are ANSI.
//
// Both block until the user answers and keep the application's other windows
// from taking input meanwhile. They may be called while the application's
// own message loop runs (from a window's handler, or from inside a transfer's
// progress event): they run a nested loop of their own.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// What the user chose: the standard dialog identifiers. idNone when no dialog
// could be shown, or when it was closed without an answer.
enum : int32_t {
  idNone = 0,
  idOk = 1,
  idCancel = 2,
  idAbort = 3,
  idRetry = 4,
  idIgnore = 5,
  idYes = 6,
  idNo = 7,
  idClose = 8,
};

// The common buttons of a task dialog, combined by OR. They show in the order
// OK, Yes, No, Retry, Cancel, Close; a dialog without any has OK.
enum : int32_t {
  tdcbOk = 0x01,
  tdcbYes = 0x02,
  tdcbNo = 0x04,
  tdcbCancel = 0x08,
  tdcbRetry = 0x10,
  tdcbClose = 0x20,
};

// Message-box style flags: one button style OR one icon OR one default button.
enum : uint32_t {
  mbOk = 0x0,
  mbOkCancel = 0x1,
  mbAbortRetryIgnore = 0x2,
  mbYesNoCancel = 0x3,
  mbYesNo = 0x4,
  mbRetryCancel = 0x5,
  mbIconError = 0x10,
  mbIconQuestion = 0x20,
  mbIconWarning = 0x30,
  mbIconInformation = 0x40,
  mbDefButton2 = 0x100,
  mbDefButton3 = 0x200,
  mbDefButton4 = 0x300,
};

// Whether dialogs and windows can be shown. On Linux the display named by
// DISPLAY is opened (once) to find out, so a run that must work without one
// asks only when it is about to show something; Windows always has one.
bool DisplayAvailable();

// Shows a task dialog with window title `caption`, content `text`, the common
// buttons `buttons` (tdcb...) and the system icon `iconId` (81 or 106
// information, 84 or 107 warning, 98 or 105 error, 99 or 104 question; any
// other id shows none). The first button is the default. Closing the dialog
// without a button answers idCancel when Cancel is offered, else idClose when
// Close is offered, else idOk for a lone OK, else idNone.
// Returns nullopt when this system has no task dialog (the caller then shows
// a message box), idNone when no dialog can be shown (no display).
std::optional<int32_t> ShowTaskDialog(const std::string& text, const std::string& caption,
                                      int32_t iconId, int32_t buttons);

// Shows a message box with window title `caption`, content `text` and the
// buttons, icon and default button of `style` (mb...; a button style outside
// the list shows OK). Closing it without a button answers as the task dialog
// does. Returns idNone when no dialog can be shown (no display).
int32_t ShowMessageDialog(const std::string& text, const std::string& caption, uint32_t style);

} // namespace platform

#pragma once
// Modal messages and questions for the user: the system's task dialog where
// it has one, else the classic message box with the nearest button set and
// icon. Texts are ANSI. Every call blocks until the user answers and returns
// the dialog result (platform/MessageDialog.h: idOk = 1 ... idClose = 8), or
// 0 at once when no dialog can be shown (no display).
#include <cstdint>
#include <string>

// Shows `text` under `caption` with the task dialog's common buttons
// `buttonSet` (OK 0x01, Yes 0x02, No 0x04, Cancel 0x08, Retry 0x10, Close
// 0x20) and the system icon `iconId`. Without a task dialog the message box
// shows MessageBoxButtonStyle(buttonSet) | MessageBoxIconFlag(iconId).
int32_t ShowTaskMessage(const std::string& text, const std::string& caption, int32_t iconId,
                        int32_t buttonSet);

// Shows the message box with the style `flags` (button style | icon | default
// button).
int32_t ShowMessageBox(const std::string& text, const std::string& caption, int32_t flags);

// A question with the question icon under the caption "确认": Yes and No,
// and Cancel when `withCancel`. `defaultButton` 2 to 4 makes that button the
// default, which only the message box can do; 1 (or any other value) leaves
// the first one the default.
int32_t AskConfirmation(const std::string& text, bool withCancel, int32_t defaultButton);

// A notice with the information icon, caption "提示" and an OK button.
void ShowInformation(const std::string& text);

// The message-box button style that stands in for a task dialog's button set:
// 1 -> OK (0), 9 -> OK/Cancel (1), 56 -> Abort/Retry/Ignore (2),
// 14 -> Yes/No/Cancel (3), 6 -> Yes/No (4), 24 -> Retry/Cancel (5), any
// other set -> OK (0).
uint32_t MessageBoxButtonStyle(int32_t buttonSet);

// The message-box icon flag that stands in for a system icon id: 81 and 106
// information (0x40), 84 and 107 warning (0x30), 98 and 105 error (0x10),
// 99 and 104 question (0x20), any other id none (0).
uint32_t MessageBoxIconFlag(int32_t iconId);

// Whether ShowTaskMessage uses the system's task dialog where there is one
// (the default), or always the classic message box.
void SetUseTaskDialogs(bool use);
bool UseTaskDialogs();

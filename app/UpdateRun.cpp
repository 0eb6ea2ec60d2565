#include "app/UpdateRun.h"

#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "app/UpdateWindow.h"
#include "platform/MessageDialog.h"
#include "platform/TextFormat.h"

#include <exception>
#include <utility>

namespace {

int Finish(TUpdateForm& form) {
  const int status = static_cast<int>(form.ExitStatus());
  form.Log(platform::FormatText("end status=%d", status));
  return status;
}

} // namespace

int RunUpdater(std::vector<std::string> args) {
  TUpdateForm form(std::move(args));
  try {
    form.FormCreate();
  } catch (const std::exception& e) {
    // As in the window's creation event: the error is shown, and the window
    // appears after it.
    form.ReportError(e);
  }
  if (form.EndRequested()) return Finish(form); // ended before the window was shown
  if (!platform::DisplayAvailable()) {
    // The window cannot be shown; the error (if any) is on standard error.
    if (form.ExitStatus() == TExitStatus::Ok)
      form.ReportFailure(updatetexts::kNoDisplay, TExitStatus::Error);
    return Finish(form);
  }
  RunUpdateWindow(form);
  return Finish(form);
}

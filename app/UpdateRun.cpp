#include "app/UpdateRun.h"

#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "app/UpdateWindow.h"
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/MessageDialog.h"
#include "platform/TextFormat.h"

#include <exception>
#include <memory>
#include <utility>

namespace {

int Finish(TUpdateForm& form) {
  const int status = static_cast<int>(form.ExitStatus());
  form.Log(platform::FormatText("end status=%d", status));
  return status;
}

// Another updater holds the working folder: this one touches nothing and
// ends. A run that would show its window at once (no region file: the check
// runs in the window) says so; a silent run (a product's silent check, a
// template refresh) only ends, with its status and the text on standard
// error.
int RefuseSecondUpdater(TUpdateForm& form) {
  const bool windowAtOnce = !platform::FileExists(form.ExeFolder() + "Region.ini") &&
                            !platform::FileExists(form.ExeFolder() + "SH.ini");
  form.Log(platform::FormatText("busy lock=%s mode=%s", form.GetWorkingFolderLock(),
                                windowAtOnce ? "window" : "silent"));
  form.ReportFailure(updatetexts::kUpdaterBusy, TExitStatus::Busy);
  if (windowAtOnce && platform::DisplayAvailable())
    form.ShowInformationText(updatetexts::kUpdaterBusy);
  return Finish(form);
}

} // namespace

int RunUpdater(std::vector<std::string> args) {
  TUpdateForm form(std::move(args));
  // Arguments that cannot be used end the run before it writes anything,
  // the lock file included.
  if (form.RefuseInvalidArguments()) return Finish(form);
  // Held until the run ends; nothing of the run writes before it is taken.
  std::unique_ptr<platform::TInstanceLock> lock;
  try {
    lock = platform::TInstanceLock::TryAcquire(form.GetWorkingFolderLock());
    if (lock) form.RecoverInterruptedReinstall();
  } catch (const std::exception& e) {
    // Without the lock, or with a reinstall that could not be undone, the
    // run must not go on to download or install.
    form.ReportError(e);
    return Finish(form);
  }
  if (!lock) return RefuseSecondUpdater(form);

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

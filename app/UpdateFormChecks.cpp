// The update checks and the template download of the start-up.
//
// The manifest check, the template check and the transfer are not part of
// the program yet: until they are, every check reports CheckFailed (nothing
// could be checked) and nothing is ever downloaded, so a start-up that would
// check ends quietly and a window that would wait for its timer shows the
// checking panel.
#include "app/UpdateForm.h"

TCheckResult TUpdateForm::CheckProductUpdate() {
  return TCheckResult::CheckFailed;
}

TCheckResult TUpdateForm::CheckTemplateUpdate() {
  return TCheckResult::CheckFailed;
}

bool TUpdateForm::DownloadTemplate() {
  return false;
}

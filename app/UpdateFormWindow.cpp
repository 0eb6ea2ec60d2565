// Closing the update window and ending the program.
#include "app/UpdateForm.h"
#include "common/ZorvaUiUtils.h"

#include <exception>

void TUpdateForm::Close() {
  closed_ = true;
  if (view_) view_->CloseWindow();
}

void TUpdateForm::imgCloseClick() {
  // Nothing may keep the user from leaving through the close glyph.
  try {
    Close();
  } catch (const std::exception&) {
  }
}

void TUpdateForm::PostEndRequest() {
  endRequested_ = true;
  if (view_) view_->CloseWindow();
}

int TUpdateForm::Confirm(const std::string& text) {
  return AskConfirmation(text, false, 1);
}

// The window's flow: the one timer tick with the check, the download with its
// progress, the install prompt, and closing the window.
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ZorvaUiUtils.h"
#include "platform/TextFormat.h"

#include <exception>

namespace {
namespace tx = updatetexts;
} // namespace

void TUpdateForm::tmUpdateTimer() {
  controls.tmUpdate.enabled = false; // one tick per run, whatever the check finds
  const TCheckResult result = CheckProductUpdate();
  controls[ControlId::pnl2].visible = false;
  switch (result) {
  case TCheckResult::UpToDate:
    controls[ControlId::pnl3].visible = true;
    controls.BindAction(ControlId::btnOK, ActionId::acClose);
    break;
  case TCheckResult::UpdateAvailable:
    controls[ControlId::pnl1].visible = true;
    if (mustUpdate == 1) {
      TerminateProductProcesses();
      controls[ControlId::btnLater].visible = false;
    }
    break;
  case TCheckResult::CheckFailed:
    ReportFailure(lastCheckError, TExitStatus::Error);
    controls[ControlId::pnl3].visible = true;
    // A refused manifest has changed nothing: no offer, no product closed.
    controls[ControlId::lblPrompt3].caption =
        manifestRefused ? tx::kManifestRefused.str() : tx::kNetworkError.str();
    controls.BindAction(ControlId::btnOK, ActionId::acClose);
    if (View()) View()->Repaint(std::nullopt);
    break;
  }
}

void TUpdateForm::acUpdateExecute() {
  controls[ControlId::pnl1].visible = false;
  controls[ControlId::pnl2].visible = true;
  controls[ControlId::lblPrompt2].caption = tx::kDownloading;
  controls[ControlId::pbUpdate].visible = true;
  // The transfer blocks the window's thread: show the panel before it starts.
  if (View()) View()->Repaint(std::nullopt);

  bool complete = false;
  try {
    complete = DownloadPackage([this](int32_t percent) { SetProgressPosition(percent); });
  } catch (const EPackageRefused& refused) {
    // The file is gone: back to the offer, where "立即更新" starts afresh.
    controls[ControlId::pnl2].visible = false;
    controls[ControlId::pbUpdate].position = 0;
    controls[ControlId::pnl1].visible = true;
    if (View()) View()->Repaint(std::nullopt);
    ReportFailure(refused.what(), TExitStatus::Refused);
    ShowInformationText(refused.what());
    return;
  }
  if (!complete) {
    // The progress panel stays; the next start resumes. A slow transfer
    // that the user declined ends the run as asked.
    if (!EndRequested())
      ReportFailure(IncompleteTransferText(GetWorkingFolder() + GetProductKind() + ".exe"),
                    TExitStatus::Error);
    return;
  }
  controls[ControlId::pnl2].visible = false;
  controls[ControlId::lblPrompt3].caption =
      platform::FormatText(tx::kReadyToInstall, GetProductKind());
  controls.BindAction(ControlId::btnOK, ActionId::acInstall);
  controls[ControlId::pnl3].visible = true;
}

void TUpdateForm::acLaterExecute() {
  imgCloseClick();
}

void TUpdateForm::acCloseExecute() {
  imgCloseClick();
}

void TUpdateForm::ExecuteAction(ActionId action) {
  switch (action) {
  case ActionId::None:
    break;
  case ActionId::acUpdate:
    acUpdateExecute();
    break;
  case ActionId::acLater:
    acLaterExecute();
    break;
  case ActionId::acClose:
    acCloseExecute();
    break;
  case ActionId::acInstall:
    acInstallExecute();
    break;
  }
}

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

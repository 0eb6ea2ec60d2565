// The one place every error of a run passes: the error box or standard
// error, the run log and the exit status; and the log's start line.
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ZorvaFileUtils.h"
#include "common/ZorvaUiUtils.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/MessageDialog.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TextFormat.h"

#include <cstdio>

namespace {

namespace tx = updatetexts;

constexpr uint32_t kErrorBoxStyle = platform::mbOk | platform::mbIconError;

void WriteStandardError(const std::string& text) {
  std::fprintf(stderr, "%s\n", platform::AnsiToConsole(text).c_str());
  std::fflush(stderr);
}

const char* ModeName(bool sampleText) {
  return sampleText ? "template" : "program";
}

} // namespace

void TUpdateForm::ReportError(const std::exception& error) {
  exitStatus_ = ExitStatusOf(error);
  Log(platform::FormatText("error status=%d: %s", static_cast<int>(exitStatus_), error.what()));
  // Asking for the display opens it; a run without one must never get as far
  // as the window system.
  if (platform::DisplayAvailable())
    ShowErrorBox(error.what());
  else
    WriteStandardError(error.what());
}

void TUpdateForm::ReportFailure(const std::string& text, TExitStatus status) {
  exitStatus_ = status;
  Log(platform::FormatText("error status=%d: %s", static_cast<int>(status), text));
  if (!view_) WriteStandardError(text);
}

void TUpdateForm::ShowErrorBox(const std::string& text) {
  ShowMessageBox(text, tx::kAppTitle, kErrorBoxStyle);
}

void TUpdateForm::LogStart() {
  std::string args = "\"" + firstArg_ + "\"";
  if (!templateArg_.empty()) args += " \"" + templateArg_ + "\"";
  Log(platform::FormatText("start version=%s mode=%s product=%s region=%s installed=%d args=%s",
                           UPDATER_VERSION, ModeName(IsSampleTextMode()), GetProductKind(),
                           regionName, ReadInstalledVersion(), args));
}

std::vector<std::string> TUpdateForm::LogFileCandidates() const {
  std::vector<std::string> files;
  std::string configured = platform::ReadProfileString(configFile, "Log", "File", "");
  if (!configured.empty()) {
    configured = platform::MapDrivePath(configured);
    const bool absolute = configured[0] == '/' || configured[0] == '\\' ||
                          (configured.size() > 1 && configured[1] == ':');
    files.push_back(absolute ? configured : ExeFolder() + configured);
  }
  files.push_back(ExeFolder() + "update.log");
  const std::string temp = GetTempFolder();
  if (!temp.empty()) files.push_back(temp + platform::PathDelim + "update.log");
  return files;
}

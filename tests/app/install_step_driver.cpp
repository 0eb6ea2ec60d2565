// The install step in a process of its own, for the kill torture: the form
// of `update -ZB`, with the updater's folder given as the first argument,
// takes the working folder's lock as the program does and runs the
// install action as the window's 确定 does, with no display. No product
// runs as far as it is concerned. Its messages go to standard output; the
// exit status is the form's, 5 when the lock is held.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

class TDriverForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  void ShowInformationText(const std::string& text) override {
    std::printf("%s\n", platform::AnsiToUtf8(text).c_str());
    std::fflush(stdout);
  }
  std::vector<platform::TProcessEntry> ProcessSnapshot() const override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 4;
  TDriverForm form({"-ZB"}, platform::ArgumentToAnsi(argv[1]) + platform::PathDelim);
  const auto lock = platform::TInstanceLock::TryAcquire(form.GetWorkingFolderLock());
  if (!lock) return 5;
  form.acInstallExecute();
  return static_cast<int>(form.ExitStatus());
}

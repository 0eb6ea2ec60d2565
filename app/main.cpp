// The program entry: builds the update window, lets its creation settle the
// run mode, and shows it unless the start-up already ended the run.
#include "app/CommandLine.h"
#include "app/UpdateForm.h"
#include "app/UpdateWindow.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

int main(int argc, char** argv) {
  try {
    // Number texts in XML follow the user's locale, read once for the run.
    CaptureXmlDecimalSeparator();
    TUpdateForm form(CommandLineToAnsi(argc, argv));
    std::optional<std::string> startupError;
    try {
      form.FormCreate();
    } catch (const std::exception& e) {
      // As in the window's creation event: the error is shown, and the window
      // appears after it.
      startupError = e.what();
    }
    if (form.EndRequested()) return 0; // ended before the window was shown
    return RunUpdateWindow(form, startupError);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "update: %s\n", platform::AnsiToConsole(e.what()).c_str());
    return 1;
  }
}

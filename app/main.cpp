// The program entry: the run itself is RunUpdater's; what reaches here is an
// error that nothing else could report.
#include "app/CommandLine.h"
#include "app/UpdateRun.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
  try {
    // Number texts in XML follow the user's locale, read once for the run.
    CaptureXmlDecimalSeparator();
    return RunUpdater(CommandLineToAnsi(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", platform::AnsiToConsole(e.what()).c_str());
    return 1;
  }
}

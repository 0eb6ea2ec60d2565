#include "app/CommandLine.h"

#include "platform/CodePage.h"

std::vector<std::string> CommandLineToAnsi(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string given = argv[i];
    std::string ansi = platform::Utf8ToAnsi(given);
    args.push_back(ansi.empty() && !given.empty() ? given : ansi);
  }
  return args;
}

#include "app/CommandLine.h"

#include "platform/CodePage.h"

std::vector<std::string> CommandLineToAnsi(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(platform::ArgumentToAnsi(argv[i]));
  return args;
}

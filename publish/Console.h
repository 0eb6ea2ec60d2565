#pragma once
// The publishing program's output: ANSI lines, converted for the console.
#include "platform/CodePage.h"

#include <cstdio>
#include <string>

inline void PrintLine(const std::string& ansi) {
  std::fputs((platform::AnsiToConsole(ansi) + "\n").c_str(), stdout);
  std::fflush(stdout);
}

inline void PrintError(const std::string& ansi) {
  std::fputs((platform::AnsiToConsole(ansi) + "\n").c_str(), stderr);
  std::fflush(stderr);
}

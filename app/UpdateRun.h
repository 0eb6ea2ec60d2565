#pragma once
// A whole run of the program: the start-up, the window when one is to be
// shown, and the exit status that tells how the run ended (ExitStatus.h).
#include <string>
#include <vector>

// `args` are the command-line arguments after the program name, in ANSI.
int RunUpdater(std::vector<std::string> args);

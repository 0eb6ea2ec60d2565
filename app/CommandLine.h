#pragma once
// The command line as the program sees it: arguments after the program name,
// converted to the ANSI code page.
#include <string>
#include <vector>

// Arguments arrive in the system's encoding (UTF-8 on Linux, ANSI on Windows)
// and are converted to ANSI. An argument that does not convert (typed in a
// GBK terminal on Linux, say) is kept byte for byte rather than lost, so that a template name never
// turns into an empty argument and thereby into another run mode.
std::vector<std::string> CommandLineToAnsi(int argc, const char* const* argv);

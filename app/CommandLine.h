#pragma once
// The command line as the program sees it: arguments after the program name,
// converted to the ANSI code page.
#include <string>
#include <vector>

// Arguments arrive in the locale's encoding, UTF-8, and are converted to ANSI.
// An argument that is not valid UTF-8 (typed in a GBK terminal, say) is kept
// byte for byte rather than lost, so that a template name never turns into an
// empty argument and thereby into another run mode.
std::vector<std::string> CommandLineToAnsi(int argc, const char* const* argv);

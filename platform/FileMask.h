#pragma once
// The file-mask matching of FileFinder, for callers that filter names
// themselves.
#include <string>

namespace platform {

// True when `name` matches `mask`: '*' stands for any run of characters, '?'
// for one character (a GBK double-byte character counts as one), ASCII
// letters compared ignoring case. A mask ending in ".*" also matches names
// without an extension, so "*.*" matches every name.
bool MatchesFileMask(const std::string& mask, const std::string& name);

} // namespace platform

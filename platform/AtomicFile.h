#pragma once
// Replacing a file's contents so that a reader, a crash or a full disk sees
// either the old file or the new one, never a mixture.
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Writes `data` to a temporary file in the folder of `ansiPath`, flushes it to
// disk and renames it over `ansiPath`. A symbolic link is followed: the file
// it names is replaced, the link stays. The mode (and, where permitted, the
// owner) of an existing file is kept; a new file gets 0666 less the umask.
// Returns false and leaves the old file untouched, with no temporary file
// left behind, when any step fails.
bool WriteFileAtomically(const std::string& ansiPath, std::string_view data);

// The same with an already converted UTF-8 path.
bool WriteFileAtomicallyUtf8(const std::string& utf8Path, std::string_view data);

// The replacement itself: `fill` writes the new contents to the descriptor
// of the temporary file and returns false on failure. A new file gets
// `newFileMode` when it is not negative, else 0666 less the umask.
bool ReplaceFileUtf8(const std::string& utf8Path, const std::function<bool(int fd)>& fill,
                     int newFileMode = -1);

} // namespace platform

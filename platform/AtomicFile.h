#pragma once
// Replacing a file's contents so that a reader, a crash or a full disk sees
// either the old file or the new one, never a mixture.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Takes the next piece of the new contents; false when it could not be
// written.
using TWriteChunk = std::function<bool(std::string_view bytes)>;

// Writes `data` to a temporary file in the folder of `ansiPath`, flushes it to
// disk and moves it over `ansiPath`. On Linux a symbolic link is followed
// (the file it names is replaced, the link stays), the mode (and, where
// permitted, the owner) of an existing file is kept and a new file gets 0666
// less the umask. Windows keeps the attributes of an existing file and
// refuses a read-only file or a link in its place.
// Returns false and leaves the old file untouched, with no temporary file
// left behind, when any step fails.
bool WriteFileAtomically(const std::string& ansiPath, std::string_view data);

// The replacement itself: `fill` hands the new contents to the writer it is
// given, piece by piece, and returns false on failure. A new file gets the
// POSIX mode `newFileMode` when it is not negative (Windows has no such
// mode and ignores it).
bool ReplaceFileContents(const std::string& ansiPath,
                         const std::function<bool(const TWriteChunk& write)>& fill,
                         int newFileMode = -1);

// When `fileName` is the name of a temporary file that a replacement left in
// the folder because it was killed before the end, the name of the file it
// was to replace; else nullopt.
std::optional<std::string> ReplacementLeftoverTarget(const std::string& fileName);

} // namespace platform

#pragma once
// Reading a small file whole, for the profile functions. Only a regular file
// is read, and it is opened without blocking, so that a pipe or a device put
// in the place of a configuration file can neither stall nor feed the
// updater.
#include <string>

namespace platform {

enum class TReadResult {
  Ok,      // `contents` holds the whole file
  Missing, // no file (or no folder) of that name
  Failed,  // it exists but is no regular file or cannot be read
};

// Reads the file named by the ANSI path into `contents` (emptied first).
TReadResult ReadRegularFile(const std::string& ansiPath, std::string& contents);

} // namespace platform

#pragma once
// Where things are: the running executable, the temporary folder, and the
// mapping of Windows drive paths onto folders. Paths are ANSI.
#include <string>

namespace platform {

// The folder delimiter of this platform.
inline constexpr char PathDelim = '/';

// Full file name of the running executable (/proc/self/exe).
std::string ExecutableFileName();

// $TMPDIR, else /tmp, always with a trailing delimiter; empty when the
// variable names no usable text.
std::string TempPath();

// A path that begins with a drive letter and a colon is mapped to a folder:
// drive C: to $UPDATE_DRIVE_C (default "/"), other drives to
// $UPDATE_DRIVE_<letter> (default "/"); backslashes become slashes. Other
// paths are returned unchanged.
std::string MapDrivePath(const std::string& windowsPath);

} // namespace platform

#pragma once
// Where things are: the running executable, the temporary folder, and, on
// Linux, the mapping of Windows drive paths onto folders. Paths are ANSI.
#include <string>

namespace platform {

// The folder delimiter of this platform.
#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

// Full file name of the running executable (Windows: the module file name;
// Linux: /proc/self/exe); empty when the system does not tell.
std::string ExecutableFileName();

// The system's temporary folder, always with a trailing delimiter (Windows:
// GetTempPathA; Linux: $TMPDIR, else /tmp); empty when the system names no
// usable folder.
std::string TempPath();

// On Windows a drive path is a real path and is returned unchanged. On Linux
// a path that begins with a drive letter and a colon is mapped to a folder:
// drive C: to $UPDATE_DRIVE_C (default "/"), other drives to
// $UPDATE_DRIVE_<letter> (default "/"); backslashes become slashes. Other
// paths are returned unchanged.
std::string MapDrivePath(const std::string& windowsPath);

} // namespace platform

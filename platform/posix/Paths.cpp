// Paths on Linux: /proc/self/exe, $TMPDIR and the mapping of drive paths.
#include "platform/Paths.h"

#include "platform/CodePage.h"

#include <cstdlib>
#include <unistd.h>

#include <vector>

namespace platform {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : Utf8ToAnsi(value);
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string ExecutableFileName() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size())
      return Utf8ToAnsi(std::string_view(buffer.data(), static_cast<size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
}

std::string TempPath() {
  const char* raw = std::getenv("TMPDIR");
  std::string path = raw != nullptr && *raw != '\0' ? Utf8ToAnsi(raw) : std::string("/tmp");
  // Invalid UTF-8 converts to empty text: no usable temporary folder.
  if (path.empty()) return path;
  if (path.back() != PathDelim) path.push_back(PathDelim);
  return path;
}

std::string MapDrivePath(const std::string& windowsPath) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':' || !IsDriveLetter(windowsPath[0]))
    return windowsPath;
  const char letter = static_cast<char>(windowsPath[0] & ~0x20);
  std::string variable = "UPDATE_DRIVE_";
  variable.push_back(letter);
  // An unset or empty variable maps the drive to the root folder.
  std::string result = Environment(variable.c_str());
  if (result.empty() || result.back() != PathDelim) result.push_back(PathDelim);
  for (size_t i = 2; i < windowsPath.size(); ++i) {
    char c = windowsPath[i];
    const bool lead =
        static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE;
    if (lead && i + 1 < windowsPath.size()) {
      // A GBK trail byte may be 0x5C, the backslash; it is not a delimiter.
      result.push_back(c);
      result.push_back(windowsPath[++i]);
      continue;
    }
    if (c == '\\') c = PathDelim;
    if (c == PathDelim && result.back() == PathDelim) continue;
    result.push_back(c);
  }
  return result;
}

} // namespace platform

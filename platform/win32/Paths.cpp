// Paths on Windows: the module file name and GetTempPathA.
#include "platform/Paths.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string ExecutableFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    // A name that fills the buffer may have been cut.
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string TempPath() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH) return std::string();
  std::string path(buffer, n);
  if (path.back() != PathDelim) path.push_back(PathDelim);
  return path;
}

std::string MapDrivePath(const std::string& windowsPath) {
  return windowsPath;
}

} // namespace platform

#include "platform/RegularFile.h"

#include <windows.h>

namespace platform {

TReadResult ReadRegularFile(const std::string& ansiPath, std::string& contents) {
  contents.clear();
  const HANDLE h = CreateFileA(ansiPath.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TReadResult::Missing
                                                                          : TReadResult::Failed;
  }
  TReadResult result = TReadResult::Ok;
  if (GetFileType(h) != FILE_TYPE_DISK) result = TReadResult::Failed;
  char buffer[8192];
  while (result == TReadResult::Ok) {
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) result = TReadResult::Failed;
    if (n == 0) break;
    contents.append(buffer, n);
  }
  CloseHandle(h);
  if (result != TReadResult::Ok) contents.clear();
  return result;
}

} // namespace platform

#include "platform/win32/SystemError.h"

#include <windows.h>

namespace platform::win32 {

std::string SystemErrorText(uint32_t error) {
  char* text = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                      FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  DWORD n = FormatMessageA(flags, nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0) {
    // WinINet keeps its texts in its own module.
    if (HMODULE wininet = GetModuleHandleA("wininet.dll"))
      n = FormatMessageA(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet, error, 0,
                         reinterpret_cast<char*>(&text), 0, nullptr);
  }
  std::string result;
  if (n > 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() &&
         (result.back() == ' ' || result.back() == '\r' || result.back() == '\n'))
    result.pop_back();
  if (result.empty()) result = "error " + std::to_string(error);
  return result;
}

} // namespace platform::win32

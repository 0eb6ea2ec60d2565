#include "platform/win32/WideText.h"

#include <windows.h>

#include <climits>

namespace platform::win32 {

std::wstring ToWide(std::string_view text, unsigned codePage) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::wstring AnsiToWide(std::string_view ansi) {
  return ToWide(ansi, CP_ACP);
}

} // namespace platform::win32

// Code pages on Windows: the system's ANSI code page, through UTF-16.
#include "platform/CodePage.h"

#include <windows.h>

#include <climits>

namespace platform {
namespace {

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// `text` in UTF-16; empty when the conversion rejects it.
std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
  return wide;
}

std::string FromWide(UINT codePage, DWORD flags, std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int size = static_cast<int>(wide.size());
  // The UTF-8 conversion takes no default character.
  const char* defaultChar = codePage == CP_UTF8 ? nullptr : "?";
  const int n =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, defaultChar, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), n, defaultChar, nullptr);
  return text;
}

bool IsHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

} // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  std::wstring wide = ToWide(CP_ACP, 0, ansi);
  // The system maps bytes that are no character of the code page into the
  // private use area; they become '?', as on Linux.
  for (wchar_t& c : wide)
    if (c >= 0xE000 && c <= 0xF8FF) c = L'?';
  return FromWide(CP_UTF8, 0, wide);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::wstring wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
  if (wide.empty()) return {};
  // A character beyond the first plane is two UTF-16 units, and would
  // become two '?'.
  std::wstring chars;
  chars.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
      chars.push_back(L'?');
      ++i;
    } else {
      chars.push_back(wide[i]);
    }
  }
  wide.swap(chars);
  // No "best fit": a character without an ANSI form becomes '?', not a
  // look-alike that could change a path or a name.
  return FromWide(CP_ACP, WC_NO_BEST_FIT_CHARS, wide);
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  const std::wstring wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
  if (wide.empty() || wide.size() > INT_MAX) return std::nullopt;
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                    nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), n, nullptr,
                      &usedDefault);
  if (usedDefault) return std::nullopt;
  return ansi;
}

std::string ArgumentToAnsi(std::string_view argument) {
  return std::string(argument);
}

std::optional<std::string> ArgumentToAnsiExact(std::string_view argument) {
  return std::string(argument);
}

std::string AnsiToConsole(std::string_view ansi) {
  return std::string(ansi);
}

} // namespace platform

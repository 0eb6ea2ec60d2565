#pragma once
// Text for the system's wide (UTF-16) interfaces, which are the only ones
// that take some things (shell links, task dialogs) or draw every character.
#include <string>
#include <string_view>

namespace platform::win32 {

// `text`, in code page `codePage` (CP_ACP for the system's ANSI text,
// CP_UTF8), as UTF-16; empty when the system cannot convert it.
std::wstring ToWide(std::string_view text, unsigned codePage);

// The system's ANSI text as UTF-16.
std::wstring AnsiToWide(std::string_view ansi);

} // namespace platform::win32

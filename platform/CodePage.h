#pragma once
// Conversion between the ANSI code page (GBK, code page 936) that all text
// inside the system uses and UTF-8, which the file system, the XML files and
// the window use.
#include <string>
#include <string_view>

namespace platform {

// GBK to UTF-8. Bytes that are not valid GBK become '?'.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to GBK. Characters without a GBK form become '?'. Invalid UTF-8 gives
// empty text, as the Windows conversion does when it rejects its input.
std::string Utf8ToAnsi(std::string_view utf8);

} // namespace platform

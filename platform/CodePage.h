#pragma once
// Conversion between the ANSI code page (GBK, code page 936) that all text
// inside the system uses and UTF-8, which the XML files use, and the Linux
// file system and window too. On Windows the ANSI code page is the system's
// (936 on a Chinese Windows), as for every ...A function the system offers.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// GBK to UTF-8. Bytes that are not valid GBK become '?'.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to GBK. Characters without a GBK form become '?'. Invalid UTF-8 gives
// empty text, as the Windows conversion does when it rejects its input.
std::string Utf8ToAnsi(std::string_view utf8);

// UTF-8 to GBK when every character has a GBK form; nullopt when one has
// none or the UTF-8 is invalid. Names that must reach a server or a file
// exactly as written (a region, a template) are converted with it.
std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8);

// A command-line argument as the system hands it to main() (UTF-8 on Linux,
// ANSI on Windows) in ANSI. An argument that does not convert is kept as it
// came.
std::string ArgumentToAnsi(std::string_view argument);

// The same for an argument that must arrive exactly (a name the publisher
// gives): nullopt when a character of it has no ANSI form. On Windows the
// system has converted the arguments already, and what it could not
// convert is a '?' by then.
std::optional<std::string> ArgumentToAnsiExact(std::string_view argument);

// ANSI text in the encoding of the console (UTF-8 on Linux, ANSI on Windows).
std::string AnsiToConsole(std::string_view ansi);

} // namespace platform

namespace platform {

// A text written in the sources as UTF-8, handed out in the ANSI code page.
// The conversion runs once, on first use. Declare the texts of a unit in one
// table of these, as constants:
//   inline const platform::AnsiText kSaveFailed{"保存失败"};
class AnsiText {
public:
  explicit AnsiText(const char* utf8) : utf8_(utf8) {}
  AnsiText(const AnsiText&) = delete;
  AnsiText& operator=(const AnsiText&) = delete;

  const std::string& str() const;
  operator const std::string&() const { return str(); }
  const char* c_str() const { return str().c_str(); }

private:
  const char* utf8_;
  mutable std::string ansi_;
  mutable std::once_flag once_;
};

} // namespace platform

#pragma once
// Conversion between the ANSI code page (GBK, code page 936) that all text
// inside the system uses and UTF-8, which the file system, the XML files and
// the window use.
#include <string>
#include <string_view>
#include <mutex>

namespace platform {

// GBK to UTF-8. Bytes that are not valid GBK become '?'.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to GBK. Characters without a GBK form become '?'. Invalid UTF-8 gives
// empty text, as the Windows conversion does when it rejects its input.
std::string Utf8ToAnsi(std::string_view utf8);

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

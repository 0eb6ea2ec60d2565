// The part of the code-page unit that every system shares.
#include "CodePage.h"

namespace platform {

const std::string& AnsiText::str() const {
  std::call_once(once_, [this] { ansi_ = Utf8ToAnsi(utf8_); });
  return ansi_;
}

} // namespace platform

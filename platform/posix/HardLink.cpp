// Hard links on POSIX.
#include "platform/HardLink.h"

#include "platform/CodePage.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool CreateHardLink(const std::string& existing, const std::string& link) {
  // A symbolic link gets a second name of its own; the file it names is not
  // touched.
  return !existing.empty() && !link.empty() &&
         ::linkat(AT_FDCWD, AnsiToUtf8(existing).c_str(), AT_FDCWD, AnsiToUtf8(link).c_str(), 0) ==
             0;
}

} // namespace platform

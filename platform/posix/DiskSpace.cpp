// Free space on POSIX: statvfs, the blocks available to unprivileged users.
#include "platform/DiskSpace.h"

#include "platform/CodePage.h"

#include <sys/statvfs.h>

namespace platform {

int64_t FreeDiskSpace(const std::string& path) {
  struct statvfs st {};
  if (path.empty() || ::statvfs(AnsiToUtf8(path).c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

} // namespace platform

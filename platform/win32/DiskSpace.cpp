// Free space on Windows: GetDiskFreeSpaceExA, which counts the user's quota.
#include "platform/DiskSpace.h"

#include <windows.h>

namespace platform {

int64_t FreeDiskSpace(const std::string& path) {
  ULARGE_INTEGER available{};
  if (path.empty() || !GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

} // namespace platform

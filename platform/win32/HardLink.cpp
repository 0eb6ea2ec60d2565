// Hard links on Windows: CreateHardLinkW, which NTFS offers within a volume.
#include "platform/HardLink.h"

#include "platform/win32/WideText.h"

#include <windows.h>
#undef CreateHardLink

namespace platform {

bool CreateHardLink(const std::string& existing, const std::string& link) {
  const std::wstring from = win32::AnsiToWide(existing);
  const std::wstring to = win32::AnsiToWide(link);
  return !from.empty() && !to.empty() && CreateHardLinkW(to.c_str(), from.c_str(), nullptr) != 0;
}

} // namespace platform

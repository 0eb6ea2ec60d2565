// The machine identity on Windows: the GUID that setup writes for the
// cryptography services, the one value every installation has.
#include "platform/MachineIdentity.h"

#include <windows.h>

namespace platform {

std::string MachineIdentity() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return {};
  char buffer[256] = {};
  DWORD type = 0;
  DWORD size = sizeof buffer - 1;
  const LSTATUS rc =
      RegQueryValueExA(key, "MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
  return std::string(buffer, strnlen(buffer, size));
}

} // namespace platform

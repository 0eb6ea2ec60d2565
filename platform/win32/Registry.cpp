// The registry on Windows, in the 32-bit view, where the products' 32-bit
// installers register. A key is opened for no more than the call needs:
// asking for more would fail for a user without administrator rights.
#include "platform/Registry.h"

#include <windows.h>

#include <vector>

namespace platform {

std::optional<std::string> ReadRegistryString(const std::string& keyPath,
                                              const std::string& valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                    &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::string text;
  const char* name = valueName.empty() ? nullptr : valueName.c_str();
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  // The value may grow between the two calls: ask again with the new size.
  for (int attempt = 0; attempt < 4 && rc == ERROR_SUCCESS; ++attempt) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) break;
    std::vector<char> buffer(size + 1, '\0');
    DWORD got = size;
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_MORE_DATA) {
      size = got;
      rc = ERROR_SUCCESS;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    // The stored text need not end in NUL, or may hold one early.
    text.assign(buffer.data(), got);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    break;
  }
  RegCloseKey(key);
  return text;
}

bool WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LSTATUS rc = RegSetValueExA(key, valueName.empty() ? nullptr : valueName.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool CanWriteRegistryKey(const std::string& keyPath) {
  HKEY key = nullptr;
  const LSTATUS rc =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool DeleteRegistryValue(const std::string& keyPath, const std::string& valueName) {
  HKEY key = nullptr;
  const LSTATUS opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  const LSTATUS rc = RegDeleteValueA(key, valueName.empty() ? nullptr : valueName.c_str());
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

} // namespace platform

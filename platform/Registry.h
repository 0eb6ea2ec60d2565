#pragma once
// The registry of HKEY_LOCAL_MACHINE. On Windows it is the system's
// registry; on Linux a profile file named by the environment variable
// UPDATE_REGISTRY_FILE (default /etc/zorva/registry.ini) stands in for it:
// one section per key path written with backslashes, one entry per value,
// "@" for the unnamed value.
#include <optional>
#include <string>

namespace platform {

#ifndef _WIN32
// The file that stands in for the registry.
std::string RegistryFile();
#endif

// The value's text; an empty `valueName` reads the unnamed value. Returns
// nullopt when the key does not exist (cannot be opened); a missing value of
// an existing key, or one that holds no text, reads as empty text. On 64-bit
// Windows the key is read in the 32-bit view, where the products' 32-bit
// installers register it.
std::optional<std::string> ReadRegistryString(const std::string& keyPath,
                                              const std::string& valueName);

// Sets the value to the text `value` (a string value, REG_SZ), creating the
// key when it does not exist. False when it cannot be written: a user
// without the rights of an administrator may not change HKEY_LOCAL_MACHINE
// (Linux: the registry file or its folder is not writable). The view is the
// one ReadRegistryString reads. The Linux file is replaced atomically.
bool WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value);

// Whether WriteRegistryString may write values of the existing key
// `keyPath`, asked without writing anything (a write, even of the same text,
// could change the value's type).
bool CanWriteRegistryKey(const std::string& keyPath);

// Removes the value; true when it is gone afterwards, also when it (or its
// key) was not there.
bool DeleteRegistryValue(const std::string& keyPath, const std::string& valueName);

} // namespace platform

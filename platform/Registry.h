#pragma once
// The registry of HKEY_LOCAL_MACHINE, read only. It is a profile file named by
// the environment variable UPDATE_REGISTRY_FILE (default
// /etc/zorva/registry.ini): one section per key path written with backslashes,
// one entry per value, "@" for the unnamed value.
#include <optional>
#include <string>

namespace platform {

// The file that stands in for the registry.
std::string RegistryFile();

// The value's text; an empty `valueName` reads the unnamed value. Returns
// nullopt when the key does not exist (cannot be opened); a missing value of
// an existing key reads as empty text.
std::optional<std::string> ReadRegistryString(const std::string& keyPath,
                                              const std::string& valueName);

} // namespace platform

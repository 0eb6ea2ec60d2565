#pragma once
// The profile-file rules on text held in memory, shared by the profile
// functions and the registry stand-in.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Names of sections and keys compared ignoring the case of ASCII letters;
// the bytes of a double-byte GBK character are compared exactly.
bool SameProfileName(std::string_view a, std::string_view b);

// The value of `key` in the first section named `section` (trimmed, one pair
// of surrounding quotes removed), or nullopt when the section or key is
// missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

bool HasProfileSection(std::string_view text, std::string_view section);

// `text` with `key` of `section` set to `value`, every other line kept. A
// missing key is added after the last entry of the section, a missing section
// at the end. Returns nullopt when a name is empty or when a name or the
// value would break the line structure (line breaks, '=' in a key, ']' in a
// section, a name ending in the lead byte of a double-byte character).
std::optional<std::string> SetProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key, std::string_view value);

// `text` without the line of `key` in the first section named `section`,
// every other line kept; nullopt when there is no such key.
std::optional<std::string> RemoveProfileValue(std::string_view text, std::string_view section,
                                              std::string_view key);

} // namespace platform

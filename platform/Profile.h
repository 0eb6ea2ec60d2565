#pragma once
// Profile (ini) files with the rules of the Windows profile functions: section
// and key names compared ignoring ASCII case, the first match wins, blanks
// around names and values trimmed; a missing file, section or key gives the
// default. Bytes are ANSI; paths are ANSI.
#include <string>

namespace platform {

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue);

// A decimal integer; text that does not start with one gives the default.
int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int defaultValue);

// Sets one key, keeping every other line of the file. The file is replaced
// atomically (temporary file in the same folder, then rename), so a crash or a
// full disk leaves the previous file whole. Returns false when it could not
// be written.
bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value);

// The same lookup on ini text held in memory (an archive comment, say).
std::string ReadProfileStringFromText(const std::string& text, const std::string& section,
                                      const std::string& key, const std::string& defaultValue);

} // namespace platform

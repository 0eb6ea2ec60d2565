// The profile functions on files: the text rules of ProfileText over the
// whole file, read at each call and replaced atomically on each write.
#include "Profile.h"

#include "AtomicFile.h"
#include "ProfileText.h"
#include "RegularFile.h"

#include <charconv>

namespace platform {

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  std::string text;
  if (ReadRegularFile(file, text) != TReadResult::Ok) return defaultValue;
  return ReadProfileStringFromText(text, section, key, defaultValue);
}

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int defaultValue) {
  const std::string text = ReadProfileString(file, section, key, std::string());
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end == first) return defaultValue;
  return value;
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::string text;
  // A file that exists but cannot be read is never replaced: its contents
  // would be lost.
  if (ReadRegularFile(file, text) == TReadResult::Failed) return false;
  const auto updated = SetProfileValue(text, section, key, value);
  if (!updated) return false;
  return WriteFileAtomically(file, *updated);
}

} // namespace platform

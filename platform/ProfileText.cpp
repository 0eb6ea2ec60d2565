// The profile-file rules on text: finding a section and a key, and setting a
// key while keeping every other line.
#include "ProfileText.h"

#include "GbkText.h"
#include "Profile.h"

#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

// Position of the single-byte character `c`, skipping double-byte GBK
// characters whose trail byte may have the same code (']' is one).
size_t FindSingleByte(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
    if (IsGbkLeadByte(static_cast<unsigned char>(s[i]))) ++i;
  }
  return std::string_view::npos;
}

struct Line {
  size_t begin; // first byte of the line
  size_t end;   // one past its last byte, before the line end
  size_t next;  // first byte of the following line
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const auto lf = text.find('\n', pos);
    const size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
    size_t end = lf == std::string_view::npos ? text.size() : lf;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = FindSingleByte(line, ']');
  if (close != std::string_view::npos) line = line.substr(0, close);
  return Trim(line);
}

struct Entry {
  std::string_view key;
  std::string_view value;
};

// The key and value of a "key=value" line, or nullopt for any other line.
std::optional<Entry> EntryOf(std::string_view line) {
  if (SectionOf(line)) return std::nullopt;
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Entry{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

struct Location {
  bool sectionFound = false;
  size_t sectionEnd = 0; // where a new key of the section goes
  std::optional<Line> keyLine;
  std::string_view value;
};

// Finds the first section named `section` and, in it, the first key named
// `key`. Later sections of the same name are not searched.
Location Find(std::string_view text, const std::vector<Line>& lines, std::string_view section,
              std::string_view key) {
  Location at;
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    const auto name = SectionOf(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (name && SameProfileName(*name, section)) break;
  }
  if (i == lines.size()) return at;
  at.sectionFound = true;
  at.sectionEnd = lines[i].next;
  for (++i; i < lines.size(); ++i) {
    const std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
    if (SectionOf(line)) break;
    if (!Trim(line).empty()) at.sectionEnd = lines[i].next;
    const auto entry = EntryOf(line);
    if (entry && SameProfileName(entry->key, key)) {
      at.keyLine = lines[i];
      at.value = entry->value;
      return at;
    }
  }
  return at;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// True when the last byte of `s` starts a double-byte character: written out,
// it would take the ']' or '=' after it as its trail byte.
bool EndsInLeadByte(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (!IsGbkLeadByte(static_cast<unsigned char>(s[i]))) continue;
    if (i + 1 == s.size()) return true;
    ++i;
  }
  return false;
}

} // namespace

bool SameProfileName(std::string_view a, std::string_view b) {
  return SameTextIgnoringAsciiCase(a, b);
}

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  const auto lines = SplitLines(text);
  const Location at = Find(text, lines, Trim(section), Trim(key));
  if (!at.keyLine) return std::nullopt;
  std::string_view value = at.value;
  // Like the Windows profile functions, one pair of matching quotes around
  // the whole value is removed.
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\''))
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool HasProfileSection(std::string_view text, std::string_view section) {
  const auto lines = SplitLines(text);
  return Find(text, lines, Trim(section), {}).sectionFound;
}

std::optional<std::string> SetProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  // A line break or a misplaced delimiter would let the value add lines or
  // keys of its own to the file.
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || FindSingleByte(section, ']') != std::string_view::npos ||
      key.find('=') != std::string_view::npos || key.front() == '[' || EndsInLeadByte(section) ||
      EndsInLeadByte(key))
    return std::nullopt;

  const std::string_view eol =
      text.find("\r\n") != std::string_view::npos || text.find('\n') == std::string_view::npos
          ? "\r\n"
          : "\n";
  const auto lines = SplitLines(text);
  const Location at = Find(text, lines, section, key);
  std::string result;
  result.reserve(text.size() + key.size() + value.size() + section.size() + 8);

  if (at.keyLine) {
    const std::string_view line =
        text.substr(at.keyLine->begin, at.keyLine->end - at.keyLine->begin);
    result.append(text.substr(0, at.keyLine->begin));
    result.append(EntryOf(line)->key);
    result.push_back('=');
    result.append(value);
    result.append(text.substr(at.keyLine->end));
    return result;
  }
  if (at.sectionFound) {
    result.append(text.substr(0, at.sectionEnd));
    if (at.sectionEnd > 0 && text[at.sectionEnd - 1] != '\n') result.append(eol);
    result.append(key).append("=").append(value).append(eol);
    result.append(text.substr(at.sectionEnd));
    return result;
  }
  result.append(text);
  if (!text.empty() && text.back() != '\n') result.append(eol);
  result.append("[").append(section).append("]").append(eol);
  result.append(key).append("=").append(value).append(eol);
  return result;
}

std::optional<std::string> RemoveProfileValue(std::string_view text, std::string_view section,
                                              std::string_view key) {
  const auto lines = SplitLines(text);
  const Location at = Find(text, lines, Trim(section), Trim(key));
  if (!at.keyLine) return std::nullopt;
  std::string result(text.substr(0, at.keyLine->begin));
  result.append(text.substr(at.keyLine->next));
  return result;
}

std::string ReadProfileStringFromText(const std::string& text, const std::string& section,
                                      const std::string& key, const std::string& defaultValue) {
  return FindProfileValue(text, section, key).value_or(defaultValue);
}

} // namespace platform

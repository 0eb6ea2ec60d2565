// The portable part of the shortcut reader: the contents of shell links and
// desktop entries.
//
// A shell link (the public shell-link binary format) is a 76-byte header
// with the link class id and flags, an optional item-id list whose size is
// its first two bytes, and then the LinkInfo structure. LinkInfo holds its
// own size and header size and the offsets, from its start, of NUL-ended
// strings: the local base path and the common path suffix in the ANSI code
// page and, when the header is at least 0x24 bytes, the same in UTF-16. Every
// size and offset comes from the file and is checked against what it holds
// before it is used.
#include "ShellLink.h"

#include "CodePage.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr size_t kLinkHeaderSize = 0x4C;
constexpr unsigned char kLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasLinkTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kForceNoLinkInfo = 0x100;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kLinkInfoMinHeader = 0x1C;
constexpr uint32_t kLinkInfoUnicodeHeader = 0x24;

std::optional<uint32_t> ReadU32(std::string_view bytes, size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

std::optional<uint16_t> ReadU16(std::string_view bytes, size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) return std::nullopt;
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::optional<std::string> AnsiStringAt(std::string_view area, size_t at) {
  if (at >= area.size()) return std::nullopt;
  const size_t end = area.find('\0', at);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(area.substr(at, end - at));
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The NUL-ended UTF-16LE string at `at`, in ANSI. A lone surrogate becomes
// '?'.
std::optional<std::string> UnicodeStringAt(std::string_view area, size_t at) {
  std::string utf8;
  for (size_t i = at;; i += 2) {
    const std::optional<uint16_t> unit = ReadU16(area, i);
    if (!unit) return std::nullopt;
    if (*unit == 0) break;
    uint32_t cp = *unit;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      const std::optional<uint16_t> low = ReadU16(area, i + 2);
      if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
        i += 2;
      } else {
        cp = '?';
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = '?';
    }
    AppendUtf8(utf8, cp);
  }
  return Utf8ToAnsi(utf8);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The escapes of a desktop entry's string values.
std::string UnescapeValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out.push_back(value[i]);
      continue;
    }
    switch (value[++i]) {
    case 's':
      out.push_back(' ');
      break;
    case 'n':
      out.push_back('\n');
      break;
    case 't':
      out.push_back('\t');
      break;
    case 'r':
      out.push_back('\r');
      break;
    case '\\':
      out.push_back('\\');
      break;
    default: // left for the quoting rules of Exec
      out.push_back('\\');
      out.push_back(value[i]);
    }
  }
  return out;
}

// The first word of an Exec value: quoted, with \" \` \$ \\ inside the
// quotes standing for the character, or up to the first blank.
std::string FirstExecWord(std::string_view value) {
  std::string word;
  if (value.empty() || value[0] != '"')
    return std::string(value.substr(0, value.find_first_of(" \t")));
  for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && std::strchr("\"`$\\", value[i + 1]) != nullptr)
      ++i;
    word.push_back(value[i]);
  }
  return word;
}

} // namespace

std::optional<std::string> ParseShellLinkTarget(std::string_view bytes) {
  if (bytes.size() < kLinkHeaderSize || ReadU32(bytes, 0) != kLinkHeaderSize ||
      std::memcmp(bytes.data() + 4, kLinkClassId, sizeof kLinkClassId) != 0)
    return std::nullopt;
  const uint32_t flags = *ReadU32(bytes, 0x14);
  size_t at = kLinkHeaderSize;
  if ((flags & kHasLinkTargetIdList) != 0) {
    const std::optional<uint16_t> idListSize = ReadU16(bytes, at);
    if (!idListSize) return std::nullopt;
    at += 2 + *idListSize;
  }
  if ((flags & kHasLinkInfo) == 0 || (flags & kForceNoLinkInfo) != 0) return std::nullopt;

  const std::optional<uint32_t> infoSize = ReadU32(bytes, at);
  if (!infoSize || *infoSize < kLinkInfoMinHeader || *infoSize > bytes.size() - at)
    return std::nullopt;
  const std::string_view info = bytes.substr(at, *infoSize);
  const uint32_t headerSize = *ReadU32(info, 4);
  if (headerSize < kLinkInfoMinHeader || headerSize > info.size()) return std::nullopt;
  if ((*ReadU32(info, 8) & kVolumeIdAndLocalBasePath) == 0) return std::nullopt;

  const bool unicode = headerSize >= kLinkInfoUnicodeHeader;
  const uint32_t unicodeBase = unicode ? *ReadU32(info, 0x1C) : 0;
  const uint32_t unicodeSuffix = unicode ? *ReadU32(info, 0x20) : 0;
  const std::optional<std::string> base = unicodeBase != 0
                                              ? UnicodeStringAt(info, unicodeBase)
                                              : AnsiStringAt(info, *ReadU32(info, 0x10));
  const std::optional<std::string> suffix = unicodeSuffix != 0
                                                ? UnicodeStringAt(info, unicodeSuffix)
                                                : AnsiStringAt(info, *ReadU32(info, 0x18));
  if (!base || base->empty() || !suffix) return std::nullopt;
  return *base + *suffix;
}

std::optional<std::string> ParseDesktopEntryProgram(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool seenGroup = false;
  bool inEntry = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      // The first group of a desktop entry is [Desktop Entry].
      if (!seenGroup && !inEntry) return std::nullopt;
      seenGroup = true;
      continue;
    }
    if (!seenGroup) return std::nullopt; // a key before any group
    const size_t equals = line.find('=');
    if (!inEntry || equals == std::string_view::npos || Trim(line.substr(0, equals)) != "Exec")
      continue;
    const std::string program =
        Utf8ToAnsi(FirstExecWord(Trim(UnescapeValue(Trim(line.substr(equals + 1))))));
    if (program.empty()) return std::nullopt;
    return program;
  }
  return std::nullopt;
}

} // namespace platform

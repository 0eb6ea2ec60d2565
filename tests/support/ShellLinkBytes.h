#pragma once
// Windows shell links (.lnk) built from the public shell-link binary format,
// for tests of the shortcut reader: the 76-byte header, an item-id list the
// reader must skip, and a LinkInfo with a volume id, the local base path and
// the common path suffix.
#include <cstdint>
#include <string>

namespace testsupport {

// Where MakeShellLink puts the LinkInfo: after the header and the item-id
// list (its size field and 6 bytes).
inline constexpr size_t kLinkInfoAt = 0x4C + 2 + 6;

struct ShellLinkShape {
  std::string ansiBase;   // stored as given (GBK bytes)
  std::string ansiSuffix; // stored as given
  // With Unicode forms the LinkInfo header is 0x24 bytes, else 0x1C.
  bool unicode = false;
  std::u16string unicodeBase;
  std::u16string unicodeSuffix;
};

inline void PutU16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}

inline void PutU32(std::string& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

// Overwrites the 32-bit field at `at`.
inline void SetU32(std::string& out, size_t at, uint32_t v) {
  std::string bytes;
  PutU32(bytes, v);
  out.replace(at, 4, bytes);
}

inline std::string MakeShellLink(const ShellLinkShape& shape) {
  std::string link;
  PutU32(link, 0x4C);
  link += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  PutU32(link, 0x01 | 0x02 | (shape.unicode ? 0x80 : 0)); // id list, link info, unicode
  link.resize(0x4C, '\0'); // attributes, times, size, icon, show command, hot key
  // An item-id list with one item and the terminal id.
  PutU16(link, 6);
  link += std::string("\x04\x00\x1F\x50\x00\x00", 6);

  const uint32_t header = shape.unicode ? 0x24 : 0x1C;
  std::string body; // everything after the LinkInfo header
  auto offset = [&] { return static_cast<uint32_t>(header + body.size()); };
  const uint32_t volumeId = offset();
  PutU32(body, 0x11); // volume id: size, drive type, serial, label offset, label
  PutU32(body, 3);
  PutU32(body, 0x12345678);
  PutU32(body, 0x10);
  body.push_back('\0');
  const uint32_t base = offset();
  body += shape.ansiBase + '\0';
  const uint32_t suffix = offset();
  body += shape.ansiSuffix + '\0';
  uint32_t unicodeBase = 0, unicodeSuffix = 0;
  if (shape.unicode) {
    unicodeBase = offset();
    for (char16_t c : shape.unicodeBase + u'\0')
      PutU16(body, c);
    unicodeSuffix = offset();
    for (char16_t c : shape.unicodeSuffix + u'\0')
      PutU16(body, c);
  }
  PutU32(link, header + static_cast<uint32_t>(body.size()));
  PutU32(link, header);
  PutU32(link, 0x01); // volume id and local base path
  PutU32(link, volumeId);
  PutU32(link, base);
  PutU32(link, 0); // no network link
  PutU32(link, suffix);
  if (shape.unicode) {
    PutU32(link, unicodeBase);
    PutU32(link, unicodeSuffix);
  }
  link += body;
  PutU32(link, 0); // the terminal block of the extra data
  return link;
}

} // namespace testsupport

#pragma once
// The rules for comparing and trimming ANSI (GBK) texts. The second byte of
// a double-byte character may have the code of an ASCII letter, of '\' or of
// ']': it belongs to its character and is never folded, cut or taken for a
// delimiter.
#include <string_view>

namespace platform {

// The first byte of a double-byte GBK character.
inline bool IsGbkLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

// Whole-text comparison ignoring the case of ASCII letters; the bytes of a
// double-byte character are compared exactly.
bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b);

// `text` without blanks and control characters (bytes up to 0x20) at both
// ends. No byte of a double-byte character is that low.
std::string_view TrimBlanksAndControls(std::string_view text);

} // namespace platform

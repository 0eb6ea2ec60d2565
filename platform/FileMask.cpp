// File-mask matching, the same on every system: Windows' own matching has
// quirks (short names, "*.*" rules) that the callers must not depend on.
#include "FileMask.h"

namespace platform {
namespace {

bool IsGbkLeadByte(unsigned char c) {
  return c >= 0x81 && c <= 0xFE;
}

// Length of the character at `s[i]`: two bytes for a GBK double-byte
// character, else one.
size_t CharLength(const std::string& s, size_t i) {
  return IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

bool SameChar(const std::string& a, size_t i, size_t la, const std::string& b, size_t j,
              size_t lb) {
  if (la != lb) return false;
  if (la == 2) return a[i] == b[j] && a[i + 1] == b[j + 1];
  auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return fold(a[i]) == fold(b[j]);
}

// '*' and '?' matching over characters, ASCII letters ignoring case. Greedy
// with a return to the last star, so the cost stays linear per star.
bool Matches(const std::string& mask, const std::string& name) {
  size_t m = 0, n = 0;
  size_t starMask = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = ++m;
      starName = n;
      continue;
    }
    if (m < mask.size()) {
      const size_t lm = CharLength(mask, m);
      const size_t ln = CharLength(name, n);
      if ((lm == 1 && mask[m] == '?') || SameChar(mask, m, lm, name, n, ln)) {
        m += lm;
        n += ln;
        continue;
      }
    }
    if (starMask == std::string::npos) return false;
    starName += CharLength(name, starName);
    n = starName;
    m = starMask;
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

} // namespace

bool MatchesFileMask(const std::string& mask, const std::string& name) {
  if (Matches(mask, name)) return true;
  // As on Windows, a mask ending in ".*" also matches a name without any
  // extension: "*.*" matches every name.
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0)
    return Matches(mask.substr(0, mask.size() - 2), name);
  return false;
}

} // namespace platform

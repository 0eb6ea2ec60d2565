// Code pages on Linux: iconv between GBK (CP936) and UTF-8.
#include "platform/CodePage.h"

#include <cerrno>
#include <iconv.h>

#include <stdexcept>

namespace platform {
namespace {

// One iconv descriptor per call keeps the functions thread-safe; opening one
// costs far less than the conversions the callers make.
class Converter {
public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts all of `in`; each sequence that iconv rejects is replaced by '?'
  // and skipped by `skip(rest)` bytes.
  template <typename Skip> std::string Run(std::string_view in, Skip skip) {
    std::string out;
    out.reserve(in.size() * 3 / 2 + 8);
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, dst - buffer);
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end): replace it.
      size_t n = skip(std::string_view(src, srcLeft));
      out.push_back('?');
      src += n;
      srcLeft -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence at the start of `s`, or 0 when it is invalid
// (overlong forms, surrogates and code points above U+10FFFF included).
size_t Utf8SequenceLength(std::string_view s) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = b(0);
  size_t n;
  unsigned cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, cp = c & 0x07;
  else
    return 0;
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

bool IsValidUtf8(std::string_view s) {
  while (!s.empty()) {
    size_t n = Utf8SequenceLength(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

} // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  bool ascii = true;
  for (char c : ansi)
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(ansi);
  Converter conv("UTF-8", "CP936");
  return conv.Run(ansi, [](std::string_view) -> size_t { return 1; });
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return std::string();
  bool ascii = true;
  for (char c : utf8)
    ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(utf8);
  Converter conv("CP936", "UTF-8");
  return conv.Run(utf8, [](std::string_view rest) -> size_t {
    size_t n = Utf8SequenceLength(rest);
    return n == 0 ? 1 : n;
  });
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return std::nullopt;
  bool lost = false;
  std::string ansi =
      Converter("CP936", "UTF-8").Run(utf8, [&lost](std::string_view rest) -> size_t {
        lost = true;
        const size_t n = Utf8SequenceLength(rest);
        return n == 0 ? 1 : n;
      });
  if (lost) return std::nullopt;
  return ansi;
}

std::string ArgumentToAnsi(std::string_view argument) {
  const std::string ansi = Utf8ToAnsi(argument);
  return ansi.empty() && !argument.empty() ? std::string(argument) : ansi;
}

std::optional<std::string> ArgumentToAnsiExact(std::string_view argument) {
  return Utf8ToAnsiExact(argument);
}

std::string AnsiToConsole(std::string_view ansi) {
  return AnsiToUtf8(ansi);
}

} // namespace platform

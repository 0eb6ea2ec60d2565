#pragma once
// printf-style formatting of ANSI texts. GBK trail bytes are never '%', so a
// pattern holding Chinese text formats like a plain one.
#include <cstdio>
#include <string>
#include <type_traits>

namespace platform {

namespace detail {
inline const char* FormatArg(const std::string& s) {
  return s.c_str();
}
template <class T> T FormatArg(T value) {
  static_assert(std::is_arithmetic_v<T> || std::is_same_v<T, const char*>,
                "format arguments are numbers or texts");
  return value;
}
} // namespace detail

// `pattern` filled by snprintf with `args`; std::string arguments go in as
// their text.
template <class... Args> std::string FormatText(const std::string& pattern, const Args&... args) {
  std::string out(pattern.size() + 64, '\0');
  for (;;) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int n = std::snprintf(out.data(), out.size() + 1, pattern.c_str(), detail::FormatArg(args)...);
#pragma GCC diagnostic pop
    if (n < 0) return pattern;
    if (static_cast<size_t>(n) <= out.size()) {
      out.resize(static_cast<size_t>(n));
      return out;
    }
    out.assign(static_cast<size_t>(n), '\0');
  }
}

} // namespace platform

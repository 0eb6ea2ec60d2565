#pragma once
// An environment variable set (or, for nullptr, removed) for one scope.
#include <cstdlib>
#include <string>

namespace testsupport {

#ifdef _WIN32
// The C runtime's environment, which it hands on to the system's as well.
inline int setenv(const char* name, const char* value, int /*overwrite*/) {
  return ::_putenv_s(name, value);
}
inline int unsetenv(const char* name) {
  return ::_putenv_s(name, "");
}
#else
using ::setenv;
using ::unsetenv;
#endif

class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old, hadValue_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() {
    if (hadValue_)
      setenv(name_, saved_.c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::string saved_;
  bool hadValue_ = false;
};

} // namespace testsupport

// The registry stand-in on Linux: a profile file.
#include "platform/Registry.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/ProfileText.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kDefaultRegistryFile = "/etc/zorva/registry.ini";
constexpr std::string_view kBlanks = " \t\r\n\v\f";

// Reads the whole registry file. It is opened for reading only, and without
// waiting, so that a pipe in its place cannot stall the updater.
std::optional<std::string> LoadRegistry() {
  const std::string path = AnsiToUtf8(RegistryFile());
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return text;
}

std::string EntryName(const std::string& valueName) {
  return valueName.empty() ? "@" : valueName;
}

// The profile rules trim a value and take one pair of quotes off it: a value
// that they would change is written in quotes, so that it reads back as it
// was.
std::string QuotedIfNeeded(const std::string& value) {
  const bool blankAtEnd = !value.empty() && (kBlanks.find(value.front()) != std::string::npos ||
                                             kBlanks.find(value.back()) != std::string::npos);
  const bool quoted = value.size() >= 2 && value.front() == value.back() &&
                      (value.front() == '"' || value.front() == '\'');
  return blankAtEnd || quoted ? "\"" + value + "\"" : value;
}

} // namespace

std::string RegistryFile() {
  const char* env = std::getenv("UPDATE_REGISTRY_FILE");
  if (env == nullptr || *env == '\0') return kDefaultRegistryFile;
  return Utf8ToAnsi(env);
}

std::optional<std::string> ReadRegistryString(const std::string& keyPath,
                                              const std::string& valueName) {
  const auto text = LoadRegistry();
  if (!text || !HasProfileSection(*text, keyPath)) return std::nullopt;
  return FindProfileValue(*text, keyPath, EntryName(valueName)).value_or(std::string());
}

bool WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value) {
  std::string text;
  // A file that exists but cannot be read is never replaced: its other keys
  // would be lost.
  if (ReadRegularFile(RegistryFile(), text) == TReadResult::Failed) return false;
  const auto updated = SetProfileValue(text, keyPath, EntryName(valueName), QuotedIfNeeded(value));
  return updated && WriteFileAtomically(RegistryFile(), *updated);
}

bool CanWriteRegistryKey(const std::string& /*keyPath*/) {
  // The file is replaced through a temporary file beside it.
  const std::string file = AnsiToUtf8(RegistryFile());
  const auto slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  return ::access(folder.c_str(), W_OK | X_OK) == 0 &&
         (::access(file.c_str(), F_OK) != 0 || ::access(file.c_str(), W_OK) == 0);
}

bool DeleteRegistryValue(const std::string& keyPath, const std::string& valueName) {
  std::string text;
  switch (ReadRegularFile(RegistryFile(), text)) {
  case TReadResult::Missing:
    return true;
  case TReadResult::Failed:
    return false;
  case TReadResult::Ok:
    break;
  }
  const auto updated = RemoveProfileValue(text, keyPath, EntryName(valueName));
  return !updated || WriteFileAtomically(RegistryFile(), *updated);
}

} // namespace platform

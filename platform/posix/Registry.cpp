// The registry stand-in on Linux: a profile file.
#include "platform/Registry.h"

#include "platform/CodePage.h"
#include "platform/ProfileText.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kDefaultRegistryFile = "/etc/zorva/registry.ini";

// Reads the whole registry file. It is opened for reading only: the updater
// never writes the registry.
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
  return FindProfileValue(*text, keyPath, valueName.empty() ? "@" : valueName)
      .value_or(std::string());
}

} // namespace platform

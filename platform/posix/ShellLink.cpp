// Shortcuts on Linux: a symbolic link leads to its file; a shell link or a
// desktop entry (also one that a symbolic link leads to) is read from its
// contents, whatever its name.
#include "platform/ShellLink.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Paths.h"
#include "platform/PlatformTexts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

// Shortcut files are small; anything larger is not read.
constexpr off_t kMaxShortcutSize = 1 << 20;

std::string Unreadable(const std::string& path) {
  std::string text = texts::kShortcutUnreadable;
  text.replace(text.find("%s"), 2, path);
  return text;
}

// The whole regular file, or nullopt when it is no regular file, is larger
// than a shortcut can be, or cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& utf8Path) {
  const int fd = ::open(utf8Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> data;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxShortcutSize) {
    data.emplace();
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) data.reset();
      if (n <= 0) break;
      data->append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return data;
}

// Where the symbolic link `utf8Path` leads in the end; for a link whose file
// is missing, the path it names, made absolute.
std::optional<std::string> LinkTarget(const std::string& utf8Path) {
  if (char* resolved = ::realpath(utf8Path.c_str(), nullptr)) {
    std::string target(resolved);
    std::free(resolved);
    return target;
  }
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(utf8Path.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) return std::nullopt;
  target.resize(static_cast<size_t>(n));
  if (target[0] != '/') target = utf8Path.substr(0, utf8Path.rfind('/') + 1) + target;
  return target;
}

} // namespace

std::string ReadShortcutTarget(const std::string& path) {
  const std::string utf8 = AnsiToUtf8(path);
  struct stat st {};
  if (utf8.empty() || ::lstat(utf8.c_str(), &st) != 0) throw Exception(Unreadable(path));

  std::optional<std::string> linkTarget; // UTF-8
  if (S_ISLNK(st.st_mode)) {
    linkTarget = LinkTarget(utf8);
    if (!linkTarget) throw Exception(Unreadable(path));
  }
  if (const std::optional<std::string> content = ReadSmallFile(linkTarget.value_or(utf8))) {
    if (std::optional<std::string> target = ParseShellLinkTarget(*content))
      return MapDrivePath(*target);
    if (std::optional<std::string> program = ParseDesktopEntryProgram(*content))
      return MapDrivePath(*program);
  }
  if (linkTarget) return MapDrivePath(Utf8ToAnsi(*linkTarget));
  throw Exception(Unreadable(path));
}

} // namespace platform

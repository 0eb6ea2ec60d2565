// Files and folders on POSIX.
#include "platform/FileSystem.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/FileMask.h"
#include "platform/PlatformTexts.h"
#include "platform/TextFormat.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

std::string SystemReason(int error) {
  return Utf8ToAnsi(std::strerror(error));
}

// The path without trailing delimiters, except for the root itself. A
// trailing slash would make lstat follow a symbolic link.
std::string WithoutTrailingDelimiter(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::string NameOf(const std::string& path) {
  const std::string bare = WithoutTrailingDelimiter(path);
  const auto slash = bare.rfind('/');
  return slash == std::string::npos ? bare : bare.substr(slash + 1);
}

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

uint32_t AttributesOf(const struct stat& st, const std::string& name) {
  uint32_t attr = 0;
  if (S_ISDIR(st.st_mode))
    attr |= faDirectory;
  else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
    attr |= faArchive;
  else
    attr |= faSysFile; // devices, sockets and pipes
  if (IsHiddenName(name)) attr |= faHidden;
  // A link carries no permissions of its own.
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
  return attr;
}

} // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(AnsiToUtf8(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(AnsiToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  const std::string utf8 = WithoutTrailingDelimiter(AnsiToUtf8(path));
  for (size_t pos = 1; pos <= utf8.size(); ++pos) {
    if (pos < utf8.size() && utf8[pos] != '/') continue;
    const std::string part = utf8.substr(0, pos);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return DirectoryExists(path);
}

bool CopyFileOverwrite(const std::string& source, const std::string& target) {
  // Windows refuses to overwrite a read-only file.
  const uint32_t targetAttr = GetFileAttributes(target);
  if (targetAttr != InvalidFileAttributes && (targetAttr & faReadOnly) != 0) return false;
  const int in = ::open(AnsiToUtf8(source).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  bool ok = ::fstat(in, &st) == 0 && S_ISREG(st.st_mode);
  // The replacement is atomic, so an interrupted copy never leaves a
  // truncated template or installer behind.
  ok = ok && ReplaceFileContents(
                 target,
                 [in](const TWriteChunk& write) {
                   char buffer[65536];
                   for (;;) {
                     const ssize_t n = ::read(in, buffer, sizeof buffer);
                     if (n < 0 && errno == EINTR) continue;
                     if (n <= 0) return n == 0;
                     if (!write(std::string_view(buffer, static_cast<size_t>(n)))) return false;
                   }
                 },
                 static_cast<int>(st.st_mode & 0777));
  ::close(in);
  return ok;
}

bool DeleteFile(const std::string& path) {
  const std::string utf8 = WithoutTrailingDelimiter(AnsiToUtf8(path));
  struct stat st {};
  if (path.empty() || ::lstat(utf8.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  // Windows does not delete a read-only file; callers clear the attribute.
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return false;
  return ::unlink(utf8.c_str()) == 0;
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && ::rmdir(WithoutTrailingDelimiter(AnsiToUtf8(path)).c_str()) == 0;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const int fd = ::open(AnsiToUtf8(path).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ssize_t n = -1;
  if (ok) {
    do
      n = ::write(fd, bytes.data(), bytes.size());
    while (n < 0 && errno == EINTR);
  }
  ok = ok && n == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && ok;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(AnsiToUtf8(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RenameFile(const std::string& source, const std::string& target) {
  return !source.empty() && !target.empty() &&
         ::rename(AnsiToUtf8(source).c_str(), AnsiToUtf8(target).c_str()) == 0;
}

uint32_t GetFileAttributes(const std::string& path) {
  if (path.empty()) return InvalidFileAttributes;
  const std::string utf8 = WithoutTrailingDelimiter(AnsiToUtf8(path));
  struct stat st {};
  if (::lstat(utf8.c_str(), &st) != 0) return InvalidFileAttributes;
  return AttributesOf(st, NameOf(path));
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  if (path.empty()) return false;
  const std::string utf8 = WithoutTrailingDelimiter(AnsiToUtf8(path));
  struct stat st {};
  if (::lstat(utf8.c_str(), &st) != 0) return false;
  // chmod would follow the link and change the file it names.
  if (S_ISLNK(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & faReadOnly) != 0 ? mode & ~S_IWUSR : mode | S_IWUSR;
  return ::chmod(utf8.c_str(), mode) == 0;
}

void ForcePrivateDirectory(const std::string& path) {
  const std::string utf8 = WithoutTrailingDelimiter(AnsiToUtf8(path));
  if (utf8.empty())
    throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(ENOENT)));
  const auto slash = utf8.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !ForceDirectories(Utf8ToAnsi(utf8.substr(0, slash))))
    throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(errno)));
  if (::mkdir(utf8.c_str(), 0700) != 0 && errno != EEXIST)
    throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(errno)));

  // Checked on the opened folder, so that nobody can swap a link in between.
  const int fd = ::open(utf8.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if (::lstat(utf8.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
      throw Exception(FormatText(texts::kFolderIsSymbolicLink, path));
    if (error == ENOTDIR) throw Exception(FormatText(texts::kFolderNotFolder, path));
    throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(error)));
  }
  struct stat st {};
  const bool statOk = ::fstat(fd, &st) == 0;
  const int statError = errno;
  const bool ours = statOk && st.st_uid == ::geteuid();
  const bool privateMode = ours && ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
  const int modeError = errno;
  ::close(fd);
  if (!statOk) throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(statError)));
  if (!ours) throw Exception(FormatText(texts::kFolderOfOtherUser, path));
  if (!privateMode)
    throw Exception(FormatText(texts::kFolderNotCreated, path, SystemReason(modeError)));
}

bool FileFinder::First(const std::string& pattern, uint32_t mask, TSearchRec& found) {
  Close();
  const auto slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  const std::string fileMask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  const std::string utf8Folder = AnsiToUtf8(folder);

  DIR* dir = ::opendir(utf8Folder.c_str());
  if (dir == nullptr) return false;
  std::vector<TSearchRec> entries;
  std::vector<TSearchRec> dots;
  const int dirFd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = Utf8ToAnsi(entry->d_name);
    // A name that is not valid UTF-8 has no ANSI form and is reported empty;
    // callers skip it.
    if (!name.empty() && !MatchesFileMask(fileMask, name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = AttributesOf(st, name);
    rec.Size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
    const uint32_t special = rec.Attr & (faHidden | faSysFile | faDirectory);
    if ((special & ~mask) != 0) continue;
    (name == "." || name == ".." ? dots : entries).push_back(std::move(rec));
  }
  ::closedir(dir);
  std::sort(dots.begin(), dots.end(),
            [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
  entries.insert(entries.begin(), dots.begin(), dots.end());
  entries_ = std::move(entries);
  return Next(found);
}

} // namespace platform

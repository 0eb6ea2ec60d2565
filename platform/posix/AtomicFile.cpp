// Atomic replacement on POSIX: a temporary file in the same folder, fsync,
// then rename(2) over the target.
#include "platform/AtomicFile.h"

#include "platform/CodePage.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>

namespace platform {
namespace {

// Closes the descriptor and removes the temporary file unless released.
class TempFile {
public:
  TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Release() { path_.clear(); }

private:
  std::string path_;
  int fd_;
};

// The file a symbolic link finally names, so that the link survives the
// replacement. Anything that is not a link is returned unchanged.
std::string ResolveLinks(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (real) return real.get();
  // A dangling link: write the file it points to, relative to the link.
  std::string target(PATH_MAX, '\0');
  ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
  if (n <= 0) return path;
  target.resize(static_cast<size_t>(n));
  if (target.front() == '/') return target;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

} // namespace

bool ReplaceFileContents(const std::string& ansiPath,
                         const std::function<bool(const TWriteChunk& write)>& fill,
                         int newFileMode) {
  const std::string utf8Path = AnsiToUtf8(ansiPath);
  if (utf8Path.empty()) return false;
  const std::string target = ResolveLinks(utf8Path);
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return false;

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return false;
  // Replacing the file through its folder would bypass the file's own
  // protection; someone who may not write it in place may not replace it.
  if (exists && ::access(target.c_str(), W_OK) != 0) return false;

  static std::atomic<unsigned> counter{0};
  int newFd = -1;
  std::string tempPath;
  for (int attempt = 0; attempt < 100 && newFd < 0; ++attempt) {
    tempPath = folder + "." + name + ".tmp" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1));
    newFd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (newFd < 0 && errno != EEXIST) return false;
  }
  if (newFd < 0) return false;
  TempFile temp(tempPath, newFd);

  if (exists) {
    // Only root may give the file to its former owner; others keep their own.
    // The owner goes first because a change of owner clears set-id bits.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
      (void)!::fchown(temp.fd(), old.st_uid, old.st_gid);
    if (::fchmod(temp.fd(), old.st_mode & 07777) != 0) return false;
  } else if (newFileMode >= 0 && ::fchmod(temp.fd(), static_cast<mode_t>(newFileMode)) != 0) {
    return false;
  }
  const int fd = temp.fd();
  if (!fill([fd](std::string_view bytes) { return WriteAll(fd, bytes); })) return false;
  if (::fsync(temp.fd()) != 0) return false;
  if (!temp.Close()) return false;
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return false;
  temp.Release();
  // The folder is not synced: after a power loss the rename may be lost, but
  // then the old file is there, whole, which is all this promises. Syncing
  // it would double the cost of the many writes a download makes.
  return true;
}

bool WriteFileAtomically(const std::string& ansiPath, std::string_view data) {
  return ReplaceFileContents(ansiPath, [data](const TWriteChunk& write) { return write(data); });
}

} // namespace platform

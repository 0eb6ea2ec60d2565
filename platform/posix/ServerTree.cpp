// The update server's tree on Linux: the names below the root are stored as
// their GBK bytes, which is what a static server finds for the client's
// percent-encoded URL.
#include "platform/ServerTree.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/TextFormat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>

namespace platform {
namespace {

const AnsiText kCannotRead{"无法读取文件“%s”：%s"};
const AnsiText kTooLarge{"文件“%s”超过 %lld 字节"};
const AnsiText kCannotMakeFolder{"无法创建文件夹“%s”：%s"};
const AnsiText kCannotCreate{"无法创建文件“%s”：%s"};
const AnsiText kCannotPlace{"无法写入文件“%s”：%s"};

std::string Reason(int error) {
  return Utf8ToAnsi(std::strerror(error));
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a new entry of `folder` (a file renamed into it, a folder made in
// it) survive a crash of the system.
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

} // namespace

TServerTree::TServerTree(std::string rootAnsi) : root_(std::move(rootAnsi)) {
  while (root_.size() > 1 && root_.back() == '/')
    root_.pop_back();
}

std::string TServerTree::NativePath(const std::string& relative) const {
  return AnsiToUtf8(root_) + "/" + relative;
}

std::string TServerTree::DisplayPath(const std::string& relative) const {
  return root_ + "/" + relative;
}

bool TServerTree::RootExists() const {
  struct stat st {};
  return ::stat(AnsiToUtf8(root_).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t TServerTree::FileSize(const std::string& relative) const {
  struct stat st {};
  if (::stat(NativePath(relative).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::unique_ptr<TFileStream> TServerTree::OpenRead(const std::string& relative) const {
  const int fd = ::open(NativePath(relative).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw EFOpenError(FormatText(kCannotRead, DisplayPath(relative), Reason(errno)));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EFOpenError(FormatText(kCannotRead, DisplayPath(relative), Reason(EISDIR)));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::make_unique<TFileStream>(fd, DisplayPath(relative));
}

std::optional<std::string> TServerTree::ReadSmallFile(const std::string& relative,
                                                      int64_t maxSize) const {
  struct stat st {};
  if (::lstat(NativePath(relative).c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  std::unique_ptr<TFileStream> file = OpenRead(relative);
  const int64_t size = file->GetSize();
  if (size > maxSize)
    throw EStreamError(
        FormatText(kTooLarge, DisplayPath(relative), static_cast<long long>(maxSize)));
  std::string bytes(static_cast<size_t>(size), '\0');
  file->ReadBuffer(bytes.data(), size);
  return bytes;
}

void TServerTree::ForceFolders(const std::string& relative) const {
  std::string path = AnsiToUtf8(root_);
  size_t from = 0;
  while (from <= relative.size()) {
    size_t slash = relative.find('/', from);
    if (slash == std::string::npos) slash = relative.size();
    const std::string name = relative.substr(from, slash - from);
    from = slash + 1;
    if (name.empty()) continue;
    const std::string parent = path;
    path += "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      throw EFOpenError(
          FormatText(kCannotMakeFolder, DisplayPath(relative.substr(0, slash)), Reason(errno)));
    if (!SyncFolder(parent))
      throw EFOpenError(
          FormatText(kCannotMakeFolder, DisplayPath(relative.substr(0, slash)), Reason(errno)));
  }
}

std::unique_ptr<TServerTreeFile> TServerTree::NewFile(const std::string& relative) const {
  static std::atomic<unsigned> counter{0};
  const std::string target = NativePath(relative);
  const std::string folder = FolderOf(target);
  const std::string name = target.substr(folder.size() + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = folder + "/." + name + ".publish" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
    // 0666 less the umask, as any file the publisher makes: the web server
    // must be able to read it.
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return std::make_unique<TServerTreeFile>(fd, temp, target, DisplayPath(relative));
    if (errno != EEXIST) break;
  }
  throw EFOpenError(FormatText(kCannotCreate, DisplayPath(relative), Reason(errno)));
}

TServerTreeFile::TServerTreeFile(intptr_t handle, std::string tempPath, std::string target,
                                 std::string display)
    : handle_(handle), stream_(std::make_unique<TFileStream>(handle, display)),
      tempPath_(std::move(tempPath)), target_(std::move(target)), display_(std::move(display)) {}

TServerTreeFile::~TServerTreeFile() {
  stream_.reset();
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool TServerTreeFile::Commit(bool replace) {
  const auto fail = [this](int error) {
    return EStreamError(FormatText(kCannotPlace, display_, Reason(error)));
  };
  if (::fsync(static_cast<int>(handle_)) != 0) throw fail(errno);
  stream_.reset();
  if (replace) {
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) throw fail(errno);
  } else {
    // Never over a file that appeared meanwhile. A file system without
    // RENAME_NOREPLACE may still offer link(), which never replaces either.
    if (::renameat2(AT_FDCWD, tempPath_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) !=
        0) {
      if (errno == EEXIST) return false;
      if (errno != EINVAL && errno != ENOSYS) throw fail(errno);
      if (::link(tempPath_.c_str(), target_.c_str()) != 0) {
        if (errno == EEXIST) return false;
        throw fail(errno);
      }
      ::unlink(tempPath_.c_str());
    }
  }
  tempPath_.clear();
  if (!SyncFolder(FolderOf(target_))) throw fail(errno);
  return true;
}

} // namespace platform

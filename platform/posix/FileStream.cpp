// TFileStream over a POSIX file descriptor.
#include "platform/PlatformTexts.h"
#include "platform/Stream.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}

std::string SystemText(int error) {
  return platform::Utf8ToAnsi(std::strerror(error));
}
} // namespace

TFileStream::TFileStream(const std::string& ansiPath, uint32_t mode) : fileName_(ansiPath) {
  int flags;
  if (mode == fmCreate)
    flags = O_RDWR | O_CREAT | O_TRUNC;
  else if ((mode & 3) == fmOpenWrite)
    flags = O_WRONLY;
  else if ((mode & 3) == fmOpenReadWrite)
    flags = O_RDWR;
  else
    flags = O_RDONLY;
  const std::string& what =
      mode == fmCreate ? platform::texts::kCannotCreate.str() : platform::texts::kCannotOpen.str();
  const std::string path = platform::AnsiToUtf8(ansiPath);
  // Opened without blocking, or a FIFO would wait for a writer forever; then
  // only a regular file is kept: a FIFO or a device would be read as endless
  // or foreign data.
  handle_ = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (handle_ < 0) throw EFOpenError(what + " \"" + ansiPath + "\" " + SystemText(errno));
  struct stat st {};
  std::string reason;
  if (::fstat(Fd(handle_), &st) != 0) {
    reason = SystemText(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = SystemText(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    reason = platform::texts::kNotRegularFile.str();
  } else {
    // Reads of the file itself wait as usual: a read that came back empty
    // for want of data would look like the end of the file.
    const int fileFlags = ::fcntl(Fd(handle_), F_GETFL);
    if (fileFlags >= 0 && ::fcntl(Fd(handle_), F_SETFL, fileFlags & ~O_NONBLOCK) == 0) return;
    reason = SystemText(errno);
  }
  ::close(Fd(handle_));
  handle_ = -1;
  throw EFOpenError(what + " \"" + ansiPath + "\" " + reason);
}

TFileStream::TFileStream(intptr_t handle, std::string fileName)
    : fileName_(std::move(fileName)), handle_(handle) {}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do
    n = ::read(Fd(handle_), buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do
    n = ::write(Fd(handle_), buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t r = ::lseek(Fd(handle_), static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError(platform::texts::kSeekFailed.str() + fileName_);
  return static_cast<int64_t>(r);
}

void TFileStream::SetSize64(int64_t newSize) {
  if (::ftruncate(Fd(handle_), static_cast<off_t>(newSize)) != 0)
    throw EStreamError(platform::texts::kResizeFailed.str() + fileName_);
  if (GetPosition() > newSize) Seek64(newSize, TSeekOrigin::soBeginning);
}

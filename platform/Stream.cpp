#include "Stream.h"

#include "CodePage.h"
#include "Exception.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Texts of the stream errors.
const platform::AnsiText kSeekOutOfRange{"流的定位超出范围"};
const platform::AnsiText kSizeOutOfRange{"流的大小超出范围"};
const platform::AnsiText kNegativeSize{"流的大小不能为负"};
const platform::AnsiText kCannotCreate{"无法创建文件"};
const platform::AnsiText kCannotOpen{"无法打开文件"};
const platform::AnsiText kNotRegularFile{"不是普通文件"};
const platform::AnsiText kSeekFailed{"文件定位失败: "};
const platform::AnsiText kResizeFailed{"无法改变文件大小: "};

std::string SystemText(int error) {
  return platform::Utf8ToAnsi(std::strerror(error));
}
} // namespace

int32_t TStream::Seek(int32_t offset, int origin) {
  if (origin < 0 || origin > 2) return static_cast<int32_t>(Seek64(0, TSeekOrigin::soCurrent));
  return static_cast<int32_t>(Seek64(offset, static_cast<TSeekOrigin>(origin)));
}

int64_t TStream::Seek64(int64_t offset, TSeekOrigin origin) {
  if (offset < INT32_MIN || offset > INT32_MAX) throw EStreamError(kSeekOutOfRange);
  return Seek(static_cast<int32_t>(offset), static_cast<int>(origin));
}

void TStream::SetSize(int32_t newSize) {
  SetSize64(newSize);
}

void TStream::SetSize64(int64_t newSize) {
  if (newSize < INT32_MIN || newSize > INT32_MAX) throw EStreamError(kSizeOutOfRange);
  SetSize(static_cast<int32_t>(newSize));
}

int64_t TStream::GetSize() {
  int64_t position = Seek64(0, TSeekOrigin::soCurrent);
  int64_t size = Seek64(0, TSeekOrigin::soEnd);
  Seek64(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  char* p = static_cast<char*>(buffer);
  while (count > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    int32_t n = Read(p, chunk);
    if (n <= 0) throw EStreamError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    int32_t n = Write(p, chunk);
    if (n <= 0) throw EStreamError("Stream write error");
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  int64_t copied = 0;
  std::vector<char> buffer(
      static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), 1 << 20)));
  while (copied < count) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count - copied, buffer.size()));
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    copied += chunk;
  }
  return copied;
}

// --- TMemoryStream ---------------------------------------------------------

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ < 0 || position_ >= size) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || position_ < 0) return 0;
  int64_t end = position_ + count;
  if (end > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek64(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
  case TSeekOrigin::soBeginning:
    position_ = offset;
    break;
  case TSeekOrigin::soCurrent:
    position_ += offset;
    break;
  case TSeekOrigin::soEnd:
    position_ = static_cast<int64_t>(data_.size()) + offset;
    break;
  }
  return position_;
}

void TMemoryStream::SetSize64(int64_t newSize) {
  if (newSize < 0) throw EStreamError(kNegativeSize);
  data_.resize(static_cast<size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& ansiPath) {
  TFileStream file(ansiPath, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& ansiPath) {
  TFileStream file(ansiPath, fmCreate);
  SaveToStream(file);
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t size = source.GetSize();
  SetSize64(size);
  if (size > 0) source.ReadBuffer(data_.data(), size);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& target) {
  if (!data_.empty()) target.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

// --- TFileStream -----------------------------------------------------------

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
  const std::string& what = mode == fmCreate ? kCannotCreate.str() : kCannotOpen.str();
  const std::string path = platform::AnsiToUtf8(ansiPath);
  // Opened without blocking, or a FIFO would wait for a writer forever; then
  // only a regular file is kept: a FIFO or a device would be read as endless
  // or foreign data.
  fd_ = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd_ < 0) throw EFOpenError(what + " \"" + ansiPath + "\" " + SystemText(errno));
  struct stat st {};
  std::string reason;
  if (::fstat(fd_, &st) != 0) {
    reason = SystemText(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = SystemText(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    reason = kNotRegularFile.str();
  } else {
    // Reads of the file itself wait as usual: a read that came back empty
    // for want of data would look like the end of the file.
    const int fileFlags = ::fcntl(fd_, F_GETFL);
    if (fileFlags >= 0 && ::fcntl(fd_, F_SETFL, fileFlags & ~O_NONBLOCK) == 0) return;
    reason = SystemText(errno);
  }
  ::close(fd_);
  fd_ = -1;
  throw EFOpenError(what + " \"" + ansiPath + "\" " + reason);
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do
    n = ::read(fd_, buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do
    n = ::write(fd_, buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError(kSeekFailed.str() + fileName_);
  return static_cast<int64_t>(r);
}

void TFileStream::SetSize64(int64_t newSize) {
  if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
    throw EStreamError(kResizeFailed.str() + fileName_);
  if (GetPosition() > newSize) Seek64(newSize, TSeekOrigin::soBeginning);
}

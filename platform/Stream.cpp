// The streams every system shares; TFileStream lives in posix/ and win32/.
#include "Stream.h"

#include "CodePage.h"
#include "Exception.h"
#include "PlatformTexts.h"

#include <algorithm>
#include <climits>
#include <cstring>

int32_t TStream::Seek(int32_t offset, int origin) {
  if (origin < 0 || origin > 2) return static_cast<int32_t>(Seek64(0, TSeekOrigin::soCurrent));
  return static_cast<int32_t>(Seek64(offset, static_cast<TSeekOrigin>(origin)));
}

int64_t TStream::Seek64(int64_t offset, TSeekOrigin origin) {
  if (offset < INT32_MIN || offset > INT32_MAX)
    throw EStreamError(platform::texts::kSeekOutOfRange);
  return Seek(static_cast<int32_t>(offset), static_cast<int>(origin));
}

void TStream::SetSize(int32_t newSize) {
  SetSize64(newSize);
}

void TStream::SetSize64(int64_t newSize) {
  if (newSize < INT32_MIN || newSize > INT32_MAX)
    throw EStreamError(platform::texts::kSizeOutOfRange);
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
  if (newSize < 0) throw EStreamError(platform::texts::kNegativeSize);
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

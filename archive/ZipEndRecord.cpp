// Finding the end of a zip archive
// ================================
//
// A zip archive is read from its end: the last 22+ bytes hold the
// end-of-central-directory record ("PK\5\6"), followed by the archive comment
// of up to 65535 bytes. Since the comment's length is only known once the
// record is found, the record is found by scanning backwards for its
// signature through the file's tail. The window is fixed at 32768 bytes
// (size - 1 for smaller files), and the first byte of the window is never
// examined. Consequences, all kept on purpose because archives in the field
// were written and checked against exactly this search:
//   - in a file larger than 32768 bytes the record is found only when the
//     comment is at most 32745 bytes long;
//   - a record at file offset 0 (an archive with no entries) is never found;
//   - the last signature wins, so a comment holding "PK\5\6" followed by at
//     least 18 more bytes is taken for the record.
// Traps:
//   - a signature in the last 21 bytes cannot be a whole record; taking it
//     would read past the buffer, so the scan starts where 22 bytes still fit;
//   - every size and offset in the record may be garbage: the directory start
//     is checked against the file before anything is read there;
//   - the directory start is taken from the record's own position minus the
//     directory size, not from the stored directory offset, so an executable
//     stub in front of the archive does not move it. The stored offset is used
//     only to shift the first entry's local-header offset by the same stub;
//   - a Zip64 archive keeps its real sizes in the Zip64 end record (76 bytes
//     before the 22-byte record, behind its 20-byte locator); it is trusted
//     only when both signatures sit where they belong inside the window;
//   - when the directory cannot be found, the first local header found in the
//     first four windows of the file stands in for it; the end record stays
//     marked as found, so its comment is still readable.
#include "archive/ZipEndRecord.h"

#include "archive/ZipRecords.h"
#include "platform/Stream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

using namespace ziprec;

namespace ziprec {

int64_t ReadAt(TStream& file, int64_t fileSize, int64_t offset, void* buffer, int64_t count) {
  if (offset < 0 || count <= 0 || offset >= fileSize) return 0;
  count = std::min(count, fileSize - offset);
  file.Seek64(offset, TSeekOrigin::soBeginning);
  char* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int32_t n =
        file.Read(p + done, static_cast<int32_t>(std::min<int64_t>(count - done, INT32_MAX)));
    if (n <= 0) break;
    done += n;
  }
  return done;
}

bool Zip64ExtraValue(const uint8_t* extra, size_t extraSize, const bool (&saturated)[3], int slot,
                     uint64_t& value) {
  if (slot < 0 || slot > 2 || !saturated[slot]) return false;
  size_t pos = 0;
  while (pos + 4 <= extraSize) {
    uint16_t tag = Le16(extra + pos);
    size_t length = Le16(extra + pos + 2);
    if (length > extraSize - pos - 4) return false;
    if (tag == 0x0001) {
      size_t field = 0;
      for (int s = 0; s < slot; ++s)
        if (saturated[s]) ++field;
      if ((field + 1) * 8 > length) return false;
      value = Le64(extra + pos + 4 + field * 8);
      return true;
    }
    pos += 4 + length;
  }
  return false;
}

} // namespace ziprec

namespace {

constexpr int64_t kSearchWindow = 32768;
constexpr int kLocalScanWindows = 4;
constexpr int64_t kTailBlock = 4096;

// The search window, read from its end on demand: most comments are short, so
// the record lies in the first block and a large file costs no more than a
// small one.
class TailWindow {
public:
  TailWindow(TStream& file, int64_t fileSize, int64_t window)
      : file_(file), fileSize_(fileSize), base_(fileSize - window), first_(window),
        bytes_(new uint8_t[static_cast<size_t>(window)]) {}

  // Makes the bytes from `index` to the window's end available; false when
  // the file no longer holds them.
  bool LoadFrom(int64_t index) {
    if (index >= first_) return true;
    index = std::max<int64_t>(0, std::min(index, first_ - kTailBlock));
    if (!ReadExact(file_, fileSize_, base_ + index, bytes_.get() + index, first_ - index))
      return false;
    first_ = index;
    return true;
  }
  const uint8_t* At(int64_t index) const { return bytes_.get() + index; }
  int64_t Base() const { return base_; }

private:
  TStream& file_;
  int64_t fileSize_;
  int64_t base_;
  int64_t first_; // bytes before this index are not loaded yet
  std::unique_ptr<uint8_t[]> bytes_;
};

bool CentralHeaderAt(TStream& file, int64_t fileSize, int64_t offset,
                     uint8_t (&header)[kCentralHeaderSize]) {
  return offset >= 0 && ReadExact(file, fileSize, offset, header, kCentralHeaderSize) &&
         IsSignature(header, kCentral);
}

bool LocalHeaderAt(TStream& file, int64_t fileSize, int64_t offset) {
  uint8_t header[kLocalHeaderSize];
  return offset >= 0 && ReadExact(file, fileSize, offset, header, kLocalHeaderSize) &&
         IsSignature(header, kLocal);
}

// The local-header offset that the first directory entry records, or -1.
int64_t RecordedLocalOffset(TStream& file, int64_t fileSize, int64_t entryOffset,
                            const uint8_t (&header)[kCentralHeaderSize]) {
  uint32_t offset32 = Le32(header + 42);
  if (offset32 != 0xFFFFFFFFu) return offset32;
  const bool saturated[3] = {Le32(header + 24) == 0xFFFFFFFFu, Le32(header + 20) == 0xFFFFFFFFu,
                             true};
  uint16_t nameLength = Le16(header + 28);
  uint16_t extraLength = Le16(header + 30);
  std::vector<uint8_t> extra(extraLength);
  if (!ReadExact(file, fileSize, entryOffset + kCentralHeaderSize + nameLength, extra.data(),
                 extraLength))
    return -1;
  uint64_t value = 0;
  if (!Zip64ExtraValue(extra.data(), extra.size(), saturated, 2, value) ||
      value > static_cast<uint64_t>(fileSize))
    return -1;
  return static_cast<int64_t>(value);
}

// True when the first directory entry's local header is where it says, or
// where it says shifted by the data prefixed to the archive.
bool FirstLocalHeaderConfirmed(TStream& file, int64_t fileSize, int64_t directoryStart,
                               uint64_t storedDirectoryOffset,
                               const uint8_t (&header)[kCentralHeaderSize]) {
  int64_t recorded = RecordedLocalOffset(file, fileSize, directoryStart, header);
  if (recorded < 0) return false;
  if (LocalHeaderAt(file, fileSize, recorded)) return true;
  if (storedDirectoryOffset >= static_cast<uint64_t>(directoryStart)) return false;
  int64_t prefix = directoryStart - static_cast<int64_t>(storedDirectoryOffset);
  return recorded <= fileSize - prefix && LocalHeaderAt(file, fileSize, recorded + prefix);
}

} // namespace

TZipEndSearch LocateZipEndRecord(TStream& file, int64_t fileSize) {
  TZipEndSearch result;
  if (fileSize < 2) return result;
  const int64_t window = fileSize <= kSearchWindow ? fileSize - 1 : kSearchWindow;
  TailWindow tail(file, fileSize, window);

  int64_t hit = -1;
  for (int64_t i = window - kEndRecordSize; i >= 1; --i) {
    if (!tail.LoadFrom(i)) break;
    if (IsSignature(tail.At(i), kEnd)) {
      hit = i;
      break;
    }
  }
  if (hit < 0) return result;

  const uint8_t* record = tail.At(hit);
  result.ZipFlags = zfEndRecord;
  result.EndRecordOffset = tail.Base() + hit;
  std::memcpy(result.EndRecord.data(), record, kEndRecordSize);
  result.CommentOffset = result.EndRecordOffset + kEndRecordSize;

  const int64_t locatorAt = hit - kZip64LocatorSize;
  const int64_t zip64EndAt = locatorAt - kZip64EndRecordSize;
  if (locatorAt >= 0 && tail.LoadFrom(locatorAt) &&
      IsSignature(tail.At(locatorAt), kZip64Locator)) {
    result.ZipFlags |= zfZip64Locator;
    if (zip64EndAt >= 0 && tail.LoadFrom(zip64EndAt) && IsSignature(tail.At(zip64EndAt), kZip64End))
      result.ZipFlags |= zfZip64End;
  }

  const uint32_t directorySize = Le32(record + 12);
  const int64_t plainStart = result.EndRecordOffset - directorySize;
  int64_t start = plainStart;
  uint64_t storedOffset = Le32(record + 16);
  if (result.ZipFlags & zfZip64End) {
    const uint8_t* zip64End = tail.At(zip64EndAt);
    uint64_t zip64EndOffset = Le64(tail.At(locatorAt) + 8);
    uint64_t zip64Size = Le64(zip64End + 40);
    storedOffset = Le64(zip64End + 48);
    start = zip64EndOffset <= static_cast<uint64_t>(fileSize) && zip64Size <= zip64EndOffset
                ? static_cast<int64_t>(zip64EndOffset - zip64Size)
                : -1;
  }

  uint8_t header[kCentralHeaderSize];
  bool found = CentralHeaderAt(file, fileSize, start, header);
  if (!found && plainStart != start && CentralHeaderAt(file, fileSize, plainStart, header)) {
    start = plainStart;
    found = true;
  }
  if (found) {
    result.ZipFlags |= zfCentralDir;
    if (FirstLocalHeaderConfirmed(file, fileSize, start, storedOffset, header))
      result.ZipFlags |= zfLocalHeader;
    result.DirectoryStart = start;
    return result;
  }

  std::vector<uint8_t> head(
      static_cast<size_t>(std::min<int64_t>(fileSize, kLocalScanWindows * window)));
  int64_t headSize = ReadAt(file, fileSize, 0, head.data(), static_cast<int64_t>(head.size()));
  for (int64_t i = 0; i + 4 <= headSize; ++i)
    if (IsSignature(&head[static_cast<size_t>(i)], kLocal)) {
      result.DirectoryStart = i;
      result.ZipFlags = static_cast<uint8_t>(
          zfLocalHeader | (result.ZipFlags & (zfEndRecord | zfZip64Locator | zfZip64End)));
      return result;
    }
  return result;
}

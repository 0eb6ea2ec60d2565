#pragma once
// Byte-level helpers shared by the zip reader: little-endian fields, record
// signatures and sizes, and reads that never leave the file.
#include <cstddef>
#include <cstdint>

class TStream;

namespace ziprec {

inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralHeaderSize = 46;
inline constexpr int kEndRecordSize = 22;
inline constexpr int kZip64LocatorSize = 20;
inline constexpr int kZip64EndRecordSize = 56;

// Second half of each "PK" signature.
inline constexpr uint8_t kLocal[2] = {3, 4};
inline constexpr uint8_t kCentral[2] = {1, 2};
inline constexpr uint8_t kEnd[2] = {5, 6};
inline constexpr uint8_t kZip64Locator[2] = {6, 7};
inline constexpr uint8_t kZip64End[2] = {6, 6};
inline constexpr uint8_t kSpanMarker[2] = {7, 8};
inline constexpr uint8_t kDigitalSignature[2] = {5, 5};

inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

// True when the four bytes at `p` are "PK" followed by `kind`.
inline bool IsSignature(const uint8_t* p, const uint8_t (&kind)[2]) {
  return p[0] == 'P' && p[1] == 'K' && p[2] == kind[0] && p[3] == kind[1];
}

// Reads up to `count` bytes at `offset` of a file of `fileSize` bytes. Returns
// the bytes read: 0 when the range starts outside the file, fewer when it runs
// past its end or the file has shrunk. Never raises on a short read.
int64_t ReadAt(TStream& file, int64_t fileSize, int64_t offset, void* buffer, int64_t count);

// Reads exactly `count` bytes at `offset`; false when they are not all there.
inline bool ReadExact(TStream& file, int64_t fileSize, int64_t offset, void* buffer,
                      int64_t count) {
  return ReadAt(file, fileSize, offset, buffer, count) == count;
}

// A 64-bit value from the Zip64 extra field of a central directory header:
// the field at `slot` (0 = uncompressed size, 1 = compressed size, 2 = local
// header offset) counting only the slots whose 32-bit field is saturated, as
// `saturated` tells. False when the extra field holds no such value.
bool Zip64ExtraValue(const uint8_t* extra, size_t extraSize, const bool (&saturated)[3], int slot,
                     uint64_t& value);

} // namespace ziprec

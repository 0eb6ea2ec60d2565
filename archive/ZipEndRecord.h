#pragma once
// The search for a zip archive's end-of-central-directory record, its comment
// and the start of its directory. See ZipEndRecord.cpp for how and why.
#include <array>
#include <cstdint>

class TStream;

// Bits of the zip flags.
enum : uint8_t {
  zfLocalHeader = 1, // the first local header was found
  zfCentralDir = 2,  // the central directory was found
  zfEndRecord = 4,   // the end record was found
  zfZip64Locator = 8,
  zfZip64End = 16,
};

struct TZipEndSearch {
  // First central directory header, or first local header when no directory
  // was found; 0 when nothing usable was found.
  int64_t DirectoryStart = 0;
  uint8_t ZipFlags = 0;
  int64_t EndRecordOffset = -1;
  // First comment byte: end-record offset + 22; 0 without an end record.
  int64_t CommentOffset = 0;
  // The 22-byte record as stored, little-endian; zeros without one.
  std::array<uint8_t, 22> EndRecord{};
};

// Searches `file`, whose size is `fileSize`. Reads at most the last 32768
// bytes, one central directory header, one local header, and, only when the
// directory cannot be found, the first 131072 bytes. Raises only what the
// stream raises on a failed seek.
TZipEndSearch LocateZipEndRecord(TStream& file, int64_t fileSize);

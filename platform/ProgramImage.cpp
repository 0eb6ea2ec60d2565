// The portable part of the program check: reading the headers. Offsets read
// from the file are checked against its size before they are used.
#include "ProgramImage.h"

#include "Exception.h"
#include "Stream.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr int32_t kHeadSize = 64; // the MZ header
constexpr int64_t kPeOffsetField = 0x3C;
constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;

uint32_t LittleEndian(const unsigned char* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = value << 8 | p[i];
  return value;
}

// Up to `count` bytes at `offset`; fewer at the end of the file.
int32_t ReadAt(TStream& file, int64_t offset, unsigned char* buffer, int32_t count) {
  file.SetPosition(offset);
  int32_t got = 0;
  while (got < count) {
    const int32_t n = file.Read(buffer + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

std::optional<TProgramFormat> PeFormat(TStream& file, const unsigned char* head, int32_t size) {
  if (size < kHeadSize) return std::nullopt;
  const int64_t peOffset = LittleEndian(head + kPeOffsetField, 4);
  unsigned char pe[6];
  if (peOffset + static_cast<int64_t>(sizeof pe) > file.GetSize() ||
      ReadAt(file, peOffset, pe, sizeof pe) != sizeof pe || std::memcmp(pe, "PE\0\0", 4) != 0)
    return std::nullopt;
  switch (LittleEndian(pe + 4, 2)) {
  case kMachineX86:
    return TProgramFormat::PeX86;
  case kMachineX64:
    return TProgramFormat::PeX64;
  }
  return std::nullopt;
}

} // namespace

std::optional<TProgramFormat> ReadProgramFormat(const std::string& path) {
  try {
    TFileStream file(path, fmOpenRead);
    unsigned char head[kHeadSize];
    const int32_t size = ReadAt(file, 0, head, kHeadSize);
    if (size >= 2 && head[0] == 'M' && head[1] == 'Z') return PeFormat(file, head, size);
    if (size >= 4 && std::memcmp(head,
                                 "\x7F"
                                 "ELF",
                                 4) == 0)
      return TProgramFormat::Elf;
    if (size >= 2 && head[0] == '#' && head[1] == '!') return TProgramFormat::Script;
  } catch (const Exception&) {
    // A file that cannot be read is no program to start.
  }
  return std::nullopt;
}

bool IsStartableProgram(const std::string& path) {
  const std::optional<TProgramFormat> format = ReadProgramFormat(path);
  return format && IsNativeProgramFormat(*format);
}

const char* ProgramFormatName(TProgramFormat format) {
  switch (format) {
  case TProgramFormat::PeX86:
    return "pe-x86";
  case TProgramFormat::PeX64:
    return "pe-x64";
  case TProgramFormat::Elf:
    return "elf";
  case TProgramFormat::Script:
    return "script";
  }
  return "";
}

} // namespace platform

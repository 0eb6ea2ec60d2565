// Reads the archive comment of arbitrary bytes written to a file: the
// classification, the end-record search and the directory walk all run on
// them. The first byte puts 0 to 3 blocks of 16 KiB of zeros in front, so the
// files both below and above the 32 KiB search window are reached.
#include "archive/ZipControl.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& ScratchFile() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "zip-fuzz-XXXXXX").string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return pattern;
  }();
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t padding = (data[0] % 4) * 16384;
  {
    TFileStream file(ScratchFile(), fmCreate);
    std::vector<char> zeros(padding, '\0');
    if (padding) file.WriteBuffer(zeros.data(), static_cast<int64_t>(padding));
    if (size > 1) file.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
  }
  const std::string text = TZipInfo::ReadArchiveComment(ScratchFile());
  // Whatever the bytes, the text is whole lines and never longer than a
  // comment can be.
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
    std::abort();
  if (text.size() > 2 * 65535) std::abort();
  return 0;
}

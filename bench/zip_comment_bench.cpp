// Time to read the archive comment of a 1 KiB and of a 1 GiB archive. The
// comment is found from the file's tail, so both times should be equal within
// noise. The large archive holds one stored member of 1 GiB whose data is a
// hole in a sparse file: it takes no disk space and no time to write.
#include "archive/ZipControl.h"
#include "platform/Stream.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

void Put(std::string& s, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    s += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Writes a zip archive with one stored member of `dataSize` zero bytes.
void WriteArchive(const std::string& path, uint32_t dataSize, const std::string& comment) {
  const std::string name = "payload.bin";
  std::string local = "PK\x03\x04";
  Put(local, 10, 2);
  Put(local, 0, 2 + 2 + 4 + 4);
  Put(local, dataSize, 4);
  Put(local, dataSize, 4);
  Put(local, name.size(), 2);
  Put(local, 0, 2);
  local += name;

  std::string tail = "PK\x01\x02";
  Put(tail, 20, 2);
  Put(tail, 10, 2);
  Put(tail, 0, 2 + 2 + 4 + 4);
  Put(tail, dataSize, 4);
  Put(tail, dataSize, 4);
  Put(tail, name.size(), 2);
  Put(tail, 0, 2 + 2 + 2 + 2 + 4 + 4);
  tail += name;
  const uint64_t directoryOffset = local.size() + uint64_t{dataSize};
  const uint64_t directorySize = tail.size();
  tail += "PK\x05\x06";
  Put(tail, 0, 4);
  Put(tail, 1, 2);
  Put(tail, 1, 2);
  Put(tail, directorySize, 4);
  Put(tail, directoryOffset, 4);
  Put(tail, comment.size(), 2);
  tail += comment;

  TFileStream file(path, fmCreate);
  file.WriteBuffer(local.data(), static_cast<int64_t>(local.size()));
  file.SetSize64(static_cast<int64_t>(directoryOffset));
  file.Seek64(0, TSeekOrigin::soEnd);
  file.WriteBuffer(tail.data(), static_cast<int64_t>(tail.size()));
}

const std::string kComment = "[Region]\r\nVersion=5";
std::string smallPath, windowPath, largePath;

void ReadComment(benchmark::State& state, const std::string* path) {
  for (auto _ : state) {
    std::string text = TZipInfo::ReadArchiveComment(*path);
    if (text != kComment + "\r\n") state.SkipWithError("wrong comment");
    benchmark::DoNotOptimize(text);
  }
}

} // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  smallPath = (folder / "zip-comment-bench-1k.zip").string();
  windowPath = (folder / "zip-comment-bench-64k.zip").string();
  largePath = (folder / "zip-comment-bench-1g.zip").string();
  WriteArchive(smallPath, 1024 - 30 - 11 - 46 - 11 - 22 - static_cast<uint32_t>(kComment.size()),
               kComment);
  WriteArchive(windowPath, 64 * 1024, kComment);
  WriteArchive(largePath, 1u << 30, kComment);

  benchmark::RegisterBenchmark("ReadArchiveComment/1KiB", ReadComment, &smallPath);
  // Above the 32 KiB search window the work no longer grows with the file.
  benchmark::RegisterBenchmark("ReadArchiveComment/64KiB", ReadComment, &windowPath);
  benchmark::RegisterBenchmark("ReadArchiveComment/1GiB", ReadComment, &largePath);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(smallPath);
  std::filesystem::remove(windowPath);
  std::filesystem::remove(largePath);
  return 0;
}

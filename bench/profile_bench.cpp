// Cost of the profile-file calls the download makes on every progress event:
// one read of DoneSize and one atomic rewrite of a VersionCfg.ini-sized file.
#include "platform/CodePage.h"
#include "platform/Profile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string MakeConfig() {
  std::string folder = (std::filesystem::temp_directory_path() / "profile-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  const std::string file = folder + "/VersionCfg.ini";
  std::ofstream(file, std::ios::binary)
      << platform::Utf8ToAnsi("[Version]\r\nTenderKind=招标工具\r\nCurVersion=6012\r\n[上海]\r\n"
                              "CurVersion=6010\r\n[HTTP]\r\nURLUseCDN=http://cdn.example.com/"
                              "update/\r\nURLWithnotCDN=http://www.example.com/update/\r\n"
                              "DoneSize=0\r\n");
  return file;
}

void BM_ReadProfileInt(benchmark::State& state) {
  const std::string file = MakeConfig();
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::ReadProfileInt(file, "HTTP", "DoneSize", 0));
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}
BENCHMARK(BM_ReadProfileInt);

void BM_WriteProfileString(benchmark::State& state) {
  const std::string file = MakeConfig();
  int64_t done = 0;
  for (auto _ : state) {
    done += 65536;
    if (!platform::WriteProfileString(file, "HTTP", "DoneSize", std::to_string(done)))
      state.SkipWithError("write failed");
  }
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}
BENCHMARK(BM_WriteProfileString)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

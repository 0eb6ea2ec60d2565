// The time of a silent check that finds nothing new: the real program,
// started as a product starts it (an install with Region.ini, no display),
// asks nginx on loopback for the manifest, finds the installed version
// current and ends without a window. Measured from the start of the process
// to its end, so it includes loading the program and its libraries.
//
//   silent_check_bench [runs]        (default 30)
//
// Prints "silent_check.median_ms <value>" and "silent_check.min_ms <value>"
// lines, and fails when a run shows anything, ends with an error, or fetches
// nothing.
#include "platform/CodePage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  std::string root = (fs::temp_directory_path() / "silent-check-bench-XXXXXX").string();
  if (!::mkdtemp(root.data())) return 1;
  const std::string kind = platform::Utf8ToAnsi("招标工具");
  fs::create_directories(root + "/www/" + kind);
  fs::create_directories(root + "/exe");
  fs::create_directories(root + "/tmp");
  fs::copy_file(UPDATER_UPDATE_PROGRAM, root + "/exe/update");
  std::ofstream(root + "/www/" + kind + "/Version.xml")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Versions>\n"
         "  <Version Name=\"0\" Version=\"7\" VersionPath=\"V7\" MustUpdate=\"0\">\n"
         "    <Detail 明细=\"1. 新增电子标书一键导出。\"/>\n  </Version>\n</Versions>\n";
  std::vector<double> ms;
  size_t fetched = 0;
  {
    testsupport::NginxServer nginx(root + "/www", root + "/nginx");
    std::ofstream(root + "/exe/VersionCfg.ini")
        << "[Version]\r\nCurVersion=7\r\n[HTTP]\r\nURLUseCDN=" << nginx.BaseUrl()
        << "\r\nURLWithnotCDN=" << nginx.BaseUrl() << "\r\nDoneSize=0\r\n";
    std::ofstream(root + "/exe/Region.ini") << "[Region]\r\nRegion=0\r\n";

    for (int i = 0; i < runs + 1; ++i) {
      const auto start = std::chrono::steady_clock::now();
      testsupport::ChildProcess update({root + "/exe/update", "-ZB"},
                                       {{"DISPLAY", std::nullopt}, {"TMPDIR", root + "/tmp"}},
                                       root + "/update.log");
      const auto code = update.WaitFor(std::chrono::seconds(30));
      const double elapsed =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      if (code != 0 || !testsupport::ReadFile(root + "/update.log").empty()) {
        std::fprintf(stderr, "the silent check did not end quietly: %s\n",
                     testsupport::ReadFile(root + "/update.log").c_str());
        fs::remove_all(root);
        return 1;
      }
      if (i > 0) ms.push_back(elapsed); // the first run loads the program's pages
    }
    const std::string log = testsupport::ReadFile(root + "/nginx/access.log");
    for (size_t at = log.find("Version.xml"); at != std::string::npos;
         at = log.find("Version.xml", at + 1))
      ++fetched;
  }
  fs::remove_all(root);
  if (fetched != static_cast<size_t>(runs) + 1) {
    std::fprintf(stderr, "expected %d manifest requests, nginx logged %zu\n", runs + 1, fetched);
    return 1;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("silent_check.median_ms %.1f\nsilent_check.min_ms %.1f\n", ms[ms.size() / 2],
              ms.front());
  return 0;
}

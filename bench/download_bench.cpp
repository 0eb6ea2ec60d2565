// Download throughput: the updater's package transfer (DoneSize persisted at
// every work event) against the curl command line, side by side in one run,
// from nginx on loopback. Cold: no local file. Resumed: half the package on
// disk and DoneSize saying so.
//
//   download_bench [size-in-MiB] [rounds]        (default 256 MiB, 5 rounds)
//
// Prints the median MB/s of each contender and their ratio, and checks from
// nginx's log that a resumed transfer fetched only the back-off and the
// missing bytes.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestServers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a command; returns its exit code.
int Run(const std::vector<std::string>& argv, const std::string& log) {
  testsupport::ChildProcess p(argv, {}, log);
  return p.WaitFor(std::chrono::minutes(10)).value_or(-1);
}

// The body bytes nginx sent for the last GET, from its combined log format:
//   127.0.0.1 - - [date] "GET /path HTTP/1.1" 206 1234 "-" "-"
long long LastBytesSent(const std::string& accessLog) {
  std::ifstream in(accessLog);
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("\"GET ") != std::string::npos) last = line;
  size_t request = last.find('"');
  size_t end = request == std::string::npos ? request : last.find('"', request + 1);
  int status = 0;
  long long bytes = -1;
  if (end != std::string::npos) std::sscanf(last.c_str() + end + 1, "%d %lld", &status, &bytes);
  return bytes;
}

} // namespace

int main(int argc, char** argv) {
  const long long mib = argc > 1 ? std::atoll(argv[1]) : 256;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const long long size = mib << 20;

  std::string root = (fs::temp_directory_path() / "download-bench-XXXXXX").string();
  if (!::mkdtemp(root.data())) return 1;
  const std::string kind = platform::Utf8ToAnsi("招标工具");
  const std::string packageDir = root + "/www/" + kind + "/V7";
  fs::create_directories(packageDir);
  fs::create_directories(root + "/exe");
  fs::create_directories(root + "/tmp");
  fs::create_directories(root + "/curl");
  {
    std::mt19937_64 random(5);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(packageDir + "/" + kind + ".exe", std::ios::binary);
    for (long long done = 0; done < size; done += static_cast<long long>(block.size() * 8)) {
      for (auto& w : block)
        w = random();
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min<long long>(size - done, block.size() * 8)));
    }
  }
  const std::string package = packageDir + "/" + kind + ".exe";
  testsupport::NginxServer nginx(root + "/www", root + "/nginx", "");
  const std::string url = nginx.BaseUrl();
  const std::string packageUrl = url + "%D5%D0%B1%EA%B9%A4%BE%DF/V7/%D5%D0%B1%EA%B9%A4%BE%DF.exe";
  std::ofstream(root + "/exe/VersionCfg.ini")
      << "[Version]\r\nCurVersion=1\r\n[HTTP]\r\nURLUseCDN=" << url << "\r\nURLWithnotCDN=" << url
      << "\r\nDoneSize=0\r\n";
  ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);

  const std::string local = root + "/tmp/MQTUpdate/" + platform::AnsiToUtf8(kind) + ".exe";
  const std::string curlFile = root + "/curl/package.exe";
  const long long half = size / 2;
  auto halfFile = [&](const std::string& path) {
    fs::resize_file(path, static_cast<uintmax_t>(half));
  };

  std::vector<double> oursCold, curlCold, oursResumed, curlResumed;
  long long resumedFetched = 0;
  for (int round = 0; round < rounds; ++round) {
    // Cold.
    fs::remove_all(root + "/tmp/MQTUpdate");
    TUpdateForm form({"-ZB"}, root + "/exe/");
    form.packagePath = "V7";
    auto start = Clock::now();
    bool ok = form.DownloadPackage(nullptr);
    oursCold.push_back(Seconds(start));
    fs::remove(curlFile);
    start = Clock::now();
    int rc = Run({"/usr/bin/curl", "-s", "-o", curlFile, packageUrl}, root + "/curl.log");
    curlCold.push_back(Seconds(start));
    if (!ok || rc != 0 || fs::file_size(local) != static_cast<uintmax_t>(size) ||
        fs::file_size(curlFile) != static_cast<uintmax_t>(size)) {
      std::fprintf(stderr, "cold transfer failed\n");
      return 1;
    }

    // Resumed from the middle.
    halfFile(local);
    platform::WriteProfileString(root + "/exe/VersionCfg.ini", "HTTP", "DoneSize",
                                 std::to_string(half));
    start = Clock::now();
    ok = form.DownloadPackage(nullptr);
    oursResumed.push_back(Seconds(start));
    resumedFetched = LastBytesSent(root + "/nginx/access.log");
    halfFile(curlFile);
    start = Clock::now();
    rc = Run({"/usr/bin/curl", "-s", "-C", "-", "-o", curlFile, packageUrl}, root + "/curl.log");
    curlResumed.push_back(Seconds(start));
    if (!ok || rc != 0 || fs::file_size(curlFile) != static_cast<uintmax_t>(size)) {
      std::fprintf(stderr, "resumed transfer failed\n");
      return 1;
    }
  }

  const double mb = static_cast<double>(size) / 1e6;
  const double oc = mb / Median(oursCold), cc = mb / Median(curlCold);
  const double rmb = static_cast<double>(size - half) / 1e6;
  const double orr = rmb / Median(oursResumed), cr = rmb / Median(curlResumed);
  std::printf("download of %lld MiB from nginx on loopback, median of %d rounds\n", mib, rounds);
  std::printf("| transfer | ours MB/s | curl MB/s | ours / curl |\n|---|---|---|---|\n");
  std::printf("| cold | %.0f | %.0f | %.2f |\n", oc, cc, oc / cc);
  std::printf("| resumed from the middle | %.0f | %.0f | %.2f |\n", orr, cr, orr / cr);
  std::printf("resumed transfer fetched %lld bytes: the back-off (40000) plus the missing %lld\n",
              resumedFetched, size - half);
  fs::remove_all(root);
  return resumedFetched == size - half + 40000 ? 0 : 2;
}

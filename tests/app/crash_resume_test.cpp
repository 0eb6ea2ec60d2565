// The crash-resume torture: the real program downloads a template of several
// MiB from a rate-limited nginx and is killed with SIGKILL again and again in
// the middle of the transfer. After every kill VersionCfg.ini must still be
// whole, DoneSize must not count a byte that is not in the local file, and
// the next start must ask for the rest with a range request that starts
// 40000 bytes before that count. Twice between two kills the publisher
// changes the template: a third of the way through, the file is replaced
// under the same URL (nginx then gives it another ETag); two thirds of the
// way, version 10 is published in a folder of its own, as publishers do.
// The start after each must fetch the new file from its first byte. The run
// that is left alone must end with the newest file, byte for byte,
// installed, and nothing left in the working folder to resume.
//
// Sample-text mode runs without a window, which makes the kill loop simple.
// The kill points come from a fixed seed; each lies at a random byte count
// of the transfer plus a random delay, so kills also land between and during
// the writes of DoneSize.
//
//   UPDATER_TORTURE_KILLS  number of kills (default 30; CI runs 5)
//   UPDATER_TORTURE_SEED   seed of the kill points (default 20261), to replay
//                          a failure
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

constexpr int64_t kBackOff = 40000;
constexpr size_t kPackageSize = 6 << 20;

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// One GET of the template as nginx logged it.
struct Request {
  std::string range;
  int status = 0;
};

class CrashResumeTest : public ::testing::Test {
protected:
  CrashResumeTest()
      : kills_(EnvInt("UPDATER_TORTURE_KILLS", 30)), seed_(EnvInt("UPDATER_TORTURE_SEED", 20261)),
        random_(static_cast<unsigned>(seed_)) {
    dir_.MakeFolder("tmp");
    dir_.MakeFolder("exe");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");

    package_ = MakeTemplate(9, 0);
    Publish(9, package_);
    dir_.Write("exe/招标示范文本/施工招标.sfwb",
               ziptest::BuildZip({{"content.bin", "old"}}, "[Region]\r\nVersion=2\r\n").bytes);

    // 1 MiB/s stays well above the slow-transfer threshold, so no question is
    // asked, and keeps a transfer of 6 MiB going for seconds.
    server_ = std::make_unique<testsupport::NginxServer>(
        dir_.Utf8("www"), dir_.Utf8("nginx"),
        "    limit_rate 1m;\n    access_log " + dir_.Utf8("nginx/ranges.log") + " ranges;\n", false,
        "  log_format ranges '$request_method $uri \"$http_range\" $status';\n");
    WriteConfig(0);
  }

  // A template of version `version` whose content comes from `variant`.
  std::string MakeTemplate(int version, uint64_t variant) const {
    std::string data(kPackageSize, '\0');
    std::mt19937_64 bytes(static_cast<uint64_t>(seed_) + variant);
    for (size_t i = 0; i < data.size(); i += 8) {
      const uint64_t w = bytes();
      std::copy_n(reinterpret_cast<const char*>(&w), std::min<size_t>(8, data.size() - i),
                  data.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return ziptest::BuildZip({{"content.bin", data}},
                             "[Region]\r\nVersion=" + std::to_string(version) + "\r\n")
        .bytes;
  }
  // Puts `templ` on the server as version `version` in folder T<version>.
  void Publish(int version, const std::string& templ) {
    const std::string kind = Utf8ToAnsi("招标示范文本");
    const std::string folder = "T" + std::to_string(version);
    const std::string file = "www/" + kind + "/" + folder + "/" + Utf8ToAnsi("施工招标") + ".sfwb";
    dir_.Write(file, templ);
    // nginx's ETag is the file's time and size: a file replaced within the
    // second it was written would keep its ETag.
    const auto path = testsupport::FsPath(dir_.Utf8(file));
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() +
                                               std::chrono::seconds(++publications_));
    dir_.Write("www/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"施工招标\" Version=\"" +
                   std::to_string(version) + "\" VersionPath=\"" + folder + "\"/>\n</Templates>\n");
  }

  std::string Config(const std::string& doneSize) const {
    return Utf8ToAnsi("[Version]\r\nTenderKind=招标工具\r\nCurVersion=6\r\n[HTTP]\r\nURLUseCDN=") +
           server_->BaseUrl() + "\r\nURLWithnotCDN=" + server_->BaseUrl() +
           "\r\nDoneSize=" + doneSize + Utf8ToAnsi("\r\n[上海]\r\nCurVersion=6\r\n");
  }
  void WriteConfig(int64_t doneSize) {
    dir_.Write("exe/VersionCfg.ini", Config(std::to_string(doneSize)));
  }

  // DoneSize of a VersionCfg.ini that must be whole: every line as written,
  // and only DoneSize's digits changed. -1 (with a failure) when it is not.
  int64_t CheckedDoneSize() const {
    const std::string text = dir_.Read("exe/VersionCfg.ini");
    const std::string before = Config("");
    const std::string after = before.substr(before.find("\r\n[", before.find("DoneSize=")));
    const size_t head = before.find("DoneSize=") + 9;
    const bool whole = text.size() > before.size() && text.compare(0, head, before, 0, head) == 0 &&
                       text.compare(text.size() - after.size(), after.size(), after) == 0;
    const std::string digits =
        whole ? text.substr(head, text.size() - head - after.size()) : std::string();
    EXPECT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos)
        << "VersionCfg.ini is not whole:\n"
        << platform::AnsiToUtf8(text);
    const std::string ini = dir_.Ansi("exe/VersionCfg.ini");
    EXPECT_EQ(platform::ReadProfileString(ini, "Version", "TenderKind", "-"),
              Utf8ToAnsi("招标工具"));
    EXPECT_EQ(platform::ReadProfileInt(ini, "Version", "CurVersion", -1), 6);
    EXPECT_EQ(platform::ReadProfileInt(ini, Utf8ToAnsi("上海"), "CurVersion", -1), 6);
    EXPECT_EQ(platform::ReadProfileString(ini, "HTTP", "URLUseCDN", ""), server_->BaseUrl());
    EXPECT_EQ(platform::ReadProfileString(ini, "HTTP", "URLWithnotCDN", ""), server_->BaseUrl());
    return digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos
               ? -1
               : std::stoll(digits);
  }

  std::unique_ptr<ChildProcess> Start(int run) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{dir_.Utf8("exe/update"), "-ZB", "施工招标"},
        std::map<std::string, std::optional<std::string>>{{"DISPLAY", std::nullopt},
                                                          {"TMPDIR", dir_.Utf8("tmp")}},
        dir_.Utf8("update-" + std::to_string(run) + ".log"));
  }

  // The template's GETs in nginx's log, once it holds `count` of them (a
  // killed request is logged when nginx sees the connection gone). A line
  // reads: GET <uri> "<range>" <status>
  std::vector<Request> Requests(size_t count) const {
    std::vector<Request> found;
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
      found.clear();
      std::istringstream log(dir_.Read("nginx/ranges.log"));
      for (std::string line; std::getline(log, line);) {
        const size_t open = line.find(" \"");
        const size_t close = open == std::string::npos ? open : line.find('"', open + 2);
        if (line.rfind("GET ", 0) != 0 || close == std::string::npos || open < 5 ||
            line.compare(open - 5, 5, ".sfwb") != 0)
          continue;
        found.push_back({line.substr(open + 2, close - open - 2), std::atoi(&line[close + 1])});
      }
      if (found.size() >= count) break;
    }
    return found;
  }

  std::string ExpectedRange(int64_t doneSize) const {
    return "bytes=" + std::to_string(std::max<int64_t>(doneSize - kBackOff, 0)) + "-" +
           std::to_string(package_.size());
  }

  const int kills_;
  const int seed_;
  std::mt19937 random_;
  testsupport::TempFolder dir_;
  std::string package_; // the newest template on the server
  int publications_ = 0;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(CrashResumeTest, KilledDownloadsResumeWithARangeAndEndByteIdentical) {
  SCOPED_TRACE("UPDATER_TORTURE_SEED=" + std::to_string(seed_) +
               " UPDATER_TORTURE_KILLS=" + std::to_string(kills_));
  ASSERT_GT(kills_, 0);
  const std::string local = "tmp/MQTUpdate/施工招标.sfwb";
  // Kill points spread over the package, leaving room at the end so that a
  // kill never comes after the transfer has finished.
  const double first = 256 << 10, last = static_cast<double>(package_.size() - (3 << 19));
  std::uniform_real_distribution<double> within(0.0, 1.0);
  std::uniform_int_distribution<int> delayMs(0, 120);

  int64_t doneSize = 0;
  int restartsAfresh = 0;
  for (int kill = 0; kill < kills_; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill + 1));
    const auto target =
        static_cast<int64_t>(first + (kill + within(random_)) * (last - first) / kills_);
    const auto delay = std::chrono::milliseconds(delayMs(random_));
    // The publisher's changes, each between two kills: the bytes on disk
    // then belong to a file the server no longer has.
    const bool republished = kill > 0 && kill == kills_ / 3;
    const bool nextVersion = kill > 0 && kill == 2 * kills_ / 3 && !republished;
    if (republished) {
      package_ = MakeTemplate(9, 1);
      Publish(9, package_);
    } else if (nextVersion) {
      package_ = MakeTemplate(10, 2);
      Publish(10, package_);
    }
    const bool restarts = republished || nextVersion;
    restartsAfresh += restarts ? 1 : 0;
    const int64_t before = restarts ? 0 : doneSize;
    auto update = Start(kill);
    // This run's own progress: its first count lies 40000 bytes back, so a
    // count above the last one is new. A run that starts afresh first sets
    // the count to 0.
    bool reached = false, fresh = !restarts;
    for (auto deadline = std::chrono::steady_clock::now() + 60s;
         !reached && std::chrono::steady_clock::now() < deadline;) {
      const int64_t now =
          platform::ReadProfileInt(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize", 0);
      fresh = fresh || now < doneSize;
      reached = fresh && now > before && now >= target;
      if (!reached) {
        ASSERT_FALSE(update->WaitFor(2ms).has_value())
            << "the updater ended before the kill:\n"
            << testsupport::ReadFile(dir_.Utf8("update-" + std::to_string(kill) + ".log"));
      }
    }
    ASSERT_TRUE(reached) << "no progress past " << target;
    std::this_thread::sleep_for(delay);
    ::kill(update->Pid(), SIGKILL);
    ASSERT_EQ(update->WaitFor(10s), 128 + SIGKILL) << "the kill came too late";

    doneSize = CheckedDoneSize();
    ASSERT_GE(doneSize, target);
    // Every byte that DoneSize counts is on disk, and right.
    const std::string file = dir_.Read(local);
    ASSERT_GE(static_cast<int64_t>(file.size()), doneSize);
    ASSERT_EQ(
        file.compare(0, static_cast<size_t>(doneSize), package_, 0, static_cast<size_t>(doneSize)),
        0)
        << "the first " << doneSize << " bytes differ from the server's";

    const std::vector<Request> requests = Requests(static_cast<size_t>(kill) + 1);
    ASSERT_EQ(requests.size(), static_cast<size_t>(kill) + 1);
    EXPECT_EQ(requests.back().range, ExpectedRange(before));
    EXPECT_EQ(requests.back().status, 206);
  }

  auto update = Start(kills_);
  EXPECT_EQ(update->WaitFor(120s), 0)
      << testsupport::ReadFile(dir_.Utf8("update-" + std::to_string(kills_) + ".log"));
  const std::vector<Request> requests = Requests(static_cast<size_t>(kills_) + 1);
  ASSERT_EQ(requests.size(), static_cast<size_t>(kills_) + 1);
  EXPECT_EQ(requests.back().range, ExpectedRange(doneSize));
  EXPECT_EQ(requests.back().status, 206);
  EXPECT_TRUE(dir_.Read("exe/招标示范文本/施工招标.sfwb") == package_)
      << "the installed template differs from the newest on the server";
  if (kills_ >= 3) {
    EXPECT_NE(package_.find("Version=10"), std::string::npos) << "version 10 was never published";
  }
  // A finished refresh leaves nothing to resume.
  EXPECT_EQ(CheckedDoneSize(), 0);
  EXPECT_FALSE(dir_.Exists(local));
  EXPECT_FALSE(dir_.Exists(local + ".resume"));

  // A kill during a rewrite of VersionCfg.ini leaves the rewrite's temporary
  // file beside it; the file itself stays whole (checked above).
  int temporaries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Utf8("exe")))
    temporaries += entry.path().filename().string().rfind(".VersionCfg.ini.tmp", 0) == 0 ? 1 : 0;
  std::printf("%d kills, %d restarts resumed with a range, %d started afresh after a change on "
              "the server, %d temporary files of interrupted rewrites left beside "
              "VersionCfg.ini\n",
              kills_, kills_ - restartsAfresh, restartsAfresh, temporaries);
}

} // namespace

// One updater per working folder: the real program, started twice at once
// again and again, and started while the lock is held, in each mode. The
// updater that does not get the lock touches no file and ends with status 3.
#include "platform/CodePage.h"
#include "platform/InstanceLock.h"
#include "platform/Profile.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

constexpr int kBusy = 3;
const char* const kBusyText = "在线升级已在运行。\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

class UpdateRunTest : public ::testing::Test {
protected:
  UpdateRunTest() {
    dir_.MakeFolder("exe");
    dir_.MakeFolder("tmp");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    // A transfer of about half a second, so that the two runs overlap.
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"),
                                                         "    limit_rate 2m;\n");
    newer_ =
        ziptest::BuildZip({{"content.bin", std::string(1 << 20, 'n')}}, "[Region]\r\nVersion=5\r\n")
            .bytes;
    const std::string kind = Utf8ToAnsi("招标示范文本");
    dir_.Write("www/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"施工招标\" Version=\"5\" VersionPath=\"T5\"/>\n</Templates>\n");
    dir_.Write("www/" + kind + "/T5/" + Utf8ToAnsi("施工招标") + ".sfwb", newer_);
    dir_.Write("www/" + Utf8ToAnsi("招标工具") + "/Version.xml",
               "<Versions><Version Name=\"0\" Version=\"7\" VersionPath=\"V7\"/></Versions>");
    config_ = "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + server_->BaseUrl() +
              "\r\nURLWithnotCDN=" + server_->BaseUrl() + "\r\nDoneSize=0\r\n";
    dir_.Write("exe/VersionCfg.ini", config_);
  }

  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args, const std::string& out,
                                      std::optional<std::string> display = std::nullopt) {
    std::vector<std::string> argv{dir_.Utf8("exe/update")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display},
            {"TMPDIR", dir_.Utf8("tmp")},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        dir_.Utf8(out));
  }
  std::string Installed() const { return dir_.Read("exe/招标示范文本/施工招标.sfwb"); }
  std::string ServerLog() const { return testsupport::ReadFile(dir_.Utf8("nginx/access.log")); }

  testsupport::TempFolder dir_;
  std::unique_ptr<testsupport::NginxServer> server_;
  std::string newer_;
  std::string config_;
};

TEST_F(UpdateRunTest, OfTwoUpdatersStartedTogetherExactlyOneWorks) {
  dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  const std::string older =
      ziptest::BuildZip({{"content.bin", "old"}}, "[Region]\r\nVersion=2\r\n").bytes;
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    dir_.Write("exe/招标示范文本/施工招标.sfwb", older);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    dir_.Write("exe/VersionCfg.ini", config_);

    auto first = Start({"-ZB", "施工招标"}, "first.txt");
    auto second = Start({"-ZB", "施工招标"}, "second.txt");
    const auto a = first->WaitFor(60s);
    const auto b = second->WaitFor(60s);
    ASSERT_TRUE(a && b) << "an updater did not end";
    std::vector<int> codes{*a, *b};
    std::sort(codes.begin(), codes.end());
    ASSERT_EQ(codes, (std::vector<int>{0, kBusy}))
        << dir_.Read("first.txt") << dir_.Read("second.txt");
    // The busy one said why, and nothing else.
    EXPECT_EQ(dir_.Read(*a == kBusy ? "first.txt" : "second.txt"), kBusyText);
    EXPECT_EQ(dir_.Read(*a == kBusy ? "second.txt" : "first.txt"), "");
    EXPECT_TRUE(Installed() == newer_);
    // The refresh that worked cleared its download away, as a finished one does.
    EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate/施工招标.sfwb"));
    EXPECT_EQ(platform::ReadProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize", ""),
              "0");
  }
  // One manifest and one template (a HEAD and a GET) a round: the busy
  // updater asked the server nothing.
  const std::string log = ServerLog();
  EXPECT_EQ(Count(log, "Version.xml"), static_cast<size_t>(kRounds));
  EXPECT_EQ(Count(log, "GET /" + Utf8ToAnsi("招标示范文本")), 0u) << "names are percent-encoded";
  EXPECT_EQ(Count(log, ".sfwb"), static_cast<size_t>(2 * kRounds)) << log;
  const std::string runLog = dir_.Read("exe/update.log");
  EXPECT_EQ(Count(runLog, " busy lock="), static_cast<size_t>(kRounds));
  EXPECT_EQ(Count(runLog, "end status=3"), static_cast<size_t>(kRounds));
}

TEST_F(UpdateRunTest, WhileAnotherHoldsTheLockEveryModeEndsAtOnceAndTouchesNothing) {
  auto lock = platform::TInstanceLock::TryAcquire(dir_.Ansi("tmp/MQTUpdate.lock"));
  ASSERT_NE(lock, nullptr);
  struct Case {
    const char* name;
    bool region;
    std::vector<std::string> args;
    const char* mode;
  } cases[] = {
      {"template refresh", true, {"-ZB", "施工招标"}, "silent"},
      {"silent check of a product with a region", true, {"-ZB"}, "silent"},
      {"window mode without a display", false, {"-ZB"}, "window"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.Utf8("exe/Region.ini"));
    if (c.region) dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    std::filesystem::remove(dir_.Utf8("exe/update.log"));
    const auto started = std::chrono::steady_clock::now();
    auto update = Start(c.args, "output.txt");
    EXPECT_EQ(update->WaitFor(30s), kBusy);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "it did not end at once";
    EXPECT_EQ(dir_.Read("output.txt"), kBusyText);
    EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate"));
    EXPECT_EQ(dir_.Read("exe/VersionCfg.ini"), config_);
    EXPECT_EQ(ServerLog(), "");
    const std::string runLog = dir_.Read("exe/update.log");
    EXPECT_NE(runLog.find(std::string(" busy lock=") + dir_.Utf8("tmp/MQTUpdate.lock") +
                          " mode=" + c.mode),
              std::string::npos)
        << runLog;
    EXPECT_NE(runLog.find("end status=3"), std::string::npos) << runLog;
  }

  // With a display, the window mode says it in a box, and no window opens.
  std::filesystem::remove(dir_.Utf8("exe/Region.ini"));
  testsupport::VirtualDisplay display(dir_.Utf8("xvfb.log"));
  auto update = Start({"-ZB"}, "output.txt", display.Name());
  auto box = testsupport::FindWindow(display, "提示", 20s);
  ASSERT_TRUE(box.has_value()) << dir_.Read("output.txt");
  EXPECT_FALSE(testsupport::FindWindow(display, "在线升级", 0s).has_value());
  testsupport::KeyAt(display, box->left + box->width / 2, box->top + box->height / 2, "Return");
  EXPECT_EQ(update->WaitFor(20s), kBusy);
  EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate"));

  // Free again once the holder has gone.
  lock.reset();
  dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  dir_.Write("exe/招标示范文本/施工招标.sfwb",
             ziptest::BuildZip({{"content.bin", "old"}}, "[Region]\r\nVersion=2\r\n").bytes);
  EXPECT_EQ(Start({"-ZB", "施工招标"}, "output.txt")->WaitFor(60s), 0);
  EXPECT_TRUE(Installed() == newer_);
}

} // namespace

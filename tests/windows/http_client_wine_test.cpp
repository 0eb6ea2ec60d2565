// The Windows HTTP client under Wine against the fault server on loopback:
// on a slow link its work events keep coming while the bytes arrive, so the
// window's progress, its speed and a disconnect from the event never wait
// for a large read to fill; and the reachability check ends within its
// limit whatever the server does.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/windows/WineSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ProbeRun {
  std::vector<std::pair<long long, long long>> events; // milliseconds, bytes
  std::string last;                                    // "end <bytes>" or "error ..."
};

ProbeRun RunProbe(const testsupport::TempFolder& dir, const std::string& url,
                  const std::string& disconnectAt = {}) {
  std::vector<std::string> args{UPDATER_WINDOWS_TEST_PROGRAMS "/http_probe.exe", url,
                                winetest::WinePath(dir.Utf8("got.bin"))};
  if (!disconnectAt.empty()) args.push_back(disconnectAt);
  auto probe = winetest::StartWine(args, std::nullopt, dir.Utf8("probe.txt"));
  EXPECT_EQ(probe->WaitFor(std::chrono::seconds(60)), 0);
  ProbeRun run;
  std::istringstream lines(dir.Read("probe.txt"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back(); // a Windows program's text output
    long long ms = 0, bytes = 0;
    if (std::istringstream(line) >> ms >> bytes)
      run.events.emplace_back(ms, bytes);
    else if (line.rfind("end ", 0) == 0 || line.rfind("error ", 0) == 0)
      run.last = line;
  }
  return run;
}

TEST(HttpClientUnderWine, WorkEventsFollowASlowLinkAndADisconnectEndsAtOnce) {
  testsupport::TempFolder dir;
  // 300 KiB in pieces of 1 KiB, 10 ms apart: about 3 s, well below the
  // client's receive buffer.
  std::string body(300 * 1024, '\0');
  for (size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>(i * 7 + i / 251);
  dir.Write("www/p.bin", body);
  testsupport::FaultServer server(dir.Utf8("www/p.bin"), dir.Utf8("work"), "slow", 10);

  const ProbeRun whole = RunProbe(dir, server.BaseUrl() + "p.bin");
  EXPECT_EQ(whole.last, "end " + std::to_string(body.size()));
  EXPECT_TRUE(dir.Read("got.bin") == body) << "the file differs from the server's";
  ASSERT_GE(whole.events.size(), 10u) << "the events came in a few large steps";
  for (size_t i = 1; i < whole.events.size(); ++i)
    EXPECT_LT(whole.events[i].first - whole.events[i - 1].first, 1000)
        << "no event for a second while bytes kept arriving, before " << whole.events[i].second;

  const ProbeRun cut = RunProbe(dir, server.BaseUrl() + "p.bin", "20000");
  EXPECT_EQ(cut.last.rfind("end ", 0), 0u) << cut.last;
  ASSERT_FALSE(cut.events.empty());
  EXPECT_LT(cut.events.back().second, 100 * 1024) << "the disconnect waited for more bytes";
}

// The probe's answer to --reach: whether it reached the server, and the
// milliseconds the check took inside the program (Wine's start not counted).
std::pair<int, long long> Reach(const testsupport::TempFolder& dir, const std::string& url,
                                int limitMs) {
  auto probe = winetest::StartWine(
      {UPDATER_WINDOWS_TEST_PROGRAMS "/http_probe.exe", "--reach", url, std::to_string(limitMs)},
      std::nullopt, dir.Utf8("reach.txt"));
  EXPECT_EQ(probe->WaitFor(std::chrono::seconds(60)), 0) << dir.Read("reach.txt");
  std::istringstream line(dir.Read("reach.txt"));
  std::string word;
  int reached = -1;
  long long ms = -1;
  line >> word >> reached >> ms;
  EXPECT_EQ(word, "reach") << dir.Read("reach.txt");
  return {reached, ms};
}

TEST(HttpClientUnderWine, ReachabilityCheckEndsWithinItsLimit) {
  testsupport::TempFolder dir;
  dir.Write("www/v.xml", "<Versions/>");
  testsupport::FaultServer silent(dir.Utf8("www/v.xml"), dir.Utf8("work"), "silent");
  testsupport::UnansweredListener unanswered;
  struct Case {
    const char* what;
    std::string url;
    int reached;
  };
  const Case cases[] = {
      {"accepts and never answers", silent.BaseUrl() + "Version.xml", 1},
      {"never completes the connection", unanswered.BaseUrl() + "Version.xml", 0},
      {"refuses the connection", "http://127.0.0.1:1/Version.xml", 0},
  };
  constexpr int kLimitMs = 1500;
  for (const Case& c : cases) {
    const auto [reached, ms] = Reach(dir, c.url, kLimitMs);
    EXPECT_EQ(reached, c.reached) << c.what;
    EXPECT_GE(ms, 0) << c.what;
    EXPECT_LT(ms, kLimitMs + 500) << c.what;
  }
}

} // namespace

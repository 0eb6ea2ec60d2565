// Processes on Windows: exit codes through CreateProcessA, batch files in the
// system's command interpreter, the ToolHelp snapshot and termination of
// processes the test started itself.
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

using platform::Utf8ToAnsi;

// The probe program, built beside this test program.
std::string ProbePath() {
  const std::string exe = platform::ExecutableFileName();
  return exe.substr(0, exe.find_last_of('\\') + 1) + "platform_process_probe.exe";
}

// Copies the probe into `ansiFolder` and returns its path there.
std::string PlaceProbe(const std::string& ansiFolder) {
  const std::string target = ansiFolder + "probe.exe";
  EXPECT_TRUE(CopyFileA(ProbePath().c_str(), target.c_str(), FALSE)) << target;
  return target;
}

TEST(RunAndWait, ReturnsTheExitCodeAndRunsInTheProgramsFolder) {
  testsupport::TempFolder dir;
  dir.MakeFolder("乗 folder");
  const std::string folder = dir.Ansi("乗 folder/");
  const std::string probe = PlaceProbe(folder);
  for (const char* code : {"0", "7", "255", "3221225477"}) {
    SCOPED_TRACE(code);
    testsupport::ScopedEnv exitCode("PROBE_EXIT_CODE", code);
    EXPECT_EQ(platform::RunAndWait(probe, platform::swHide), std::stoul(code));
  }
  // The folder ends in a character whose second byte is a backslash.
  EXPECT_EQ(dir.Read("乗 folder/cwd.txt"), folder.substr(0, folder.size() - 1));
  EXPECT_EQ(platform::RunAndWait(dir.Ansi("missing.exe"), platform::swHide), 0u);
}

TEST(RunAndWait, BatchFilesRunInTheCommandInterpreterWithPercentSignsKept) {
  testsupport::TempFolder dir;
  // A folder whose name would expand to the program search path unescaped.
  dir.MakeFolder("a%PATH%b");
  const std::string probe = PlaceProbe(dir.Ansi("a%PATH%b/"));
  testsupport::ScopedEnv exitCode("PROBE_EXIT_CODE", "5");
  dir.Write("install.bat",
            "\"" + platform::AnsiToUtf8(platform::EscapeBatchText(probe)) + "\" /quiet\r\n");
  EXPECT_EQ(platform::RunAndWait(dir.Ansi("install.bat"), platform::swHide), 5u);
  EXPECT_TRUE(dir.Exists("a%PATH%b/cwd.txt"));

  dir.Write("exit.bat", "exit 3\r\n");
  EXPECT_EQ(platform::RunAndWait(dir.Ansi("exit.bat"), platform::swHide), 3u);
  dir.Write("Uninstall.bat", "");
  EXPECT_EQ(platform::RunAndWait(dir.Ansi("Uninstall.bat"), platform::swHide), 0u);
  dir.Write("missing.bat", "\"" + dir.Utf8("nothing here.exe") + "\" /quiet\r\n");
  EXPECT_NE(platform::RunAndWait(dir.Ansi("missing.bat"), platform::swHide), 0u);
}

TEST(RunAndWait, TryRunAndWaitTellsAProgramThatCouldNotStartFromOneThatEndedWithZero) {
  testsupport::TempFolder dir;
  dir.MakeFolder("p");
  const std::string probe = PlaceProbe(dir.Ansi("p/"));
  testsupport::ScopedEnv exitCode("PROBE_EXIT_CODE", "0");
  EXPECT_EQ(platform::TryRunAndWait(probe, platform::swHide), 0u);
  dir.Write("page.exe", "<html>404</html>\r\n");
  for (const char* file : {"missing.exe", "page.exe"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(platform::TryRunAndWait(dir.Ansi(file), platform::swHide), std::nullopt);
    EXPECT_EQ(platform::RunAndWait(dir.Ansi(file), platform::swHide), 0u);
  }
}

// A probe started by the test, sleeping until it is ended.
class SleepingProbe {
public:
  SleepingProbe() {
    testsupport::ScopedEnv sleep("PROBE_SLEEP_MS", "60000");
    std::string line = "\"";
    line += ProbePath();
    line += '"';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                              nullptr, nullptr, &startup, &info_) != 0;
  }
  ~SleepingProbe() {
    if (!started_) return;
    ::TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 10000);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  SleepingProbe(const SleepingProbe&) = delete;
  SleepingProbe& operator=(const SleepingProbe&) = delete;

  bool Started() const { return started_; }
  uint32_t Id() const { return info_.dwProcessId; }
  // Its exit code once it has ended within 10 s, else nullopt.
  std::optional<uint32_t> Ended() const {
    if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

private:
  bool started_ = false;
  PROCESS_INFORMATION info_{};
};

std::optional<platform::TProcessEntry> Find(uint32_t id) {
  for (const platform::TProcessEntry& p : platform::TakeProcessSnapshot())
    if (p.id == id) return p;
  return std::nullopt;
}

TEST(ProcessSnapshot, SeesAndEndsTheProcessesTheTestStarted) {
  SleepingProbe first, second;
  ASSERT_TRUE(first.Started() && second.Started());
  const auto a = Find(first.Id());
  const auto b = Find(second.Id());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->exeName, "platform_process_probe.exe");
  EXPECT_NE(a->startTime, 0u);
  EXPECT_EQ(Find(GetCurrentProcessId())->exeName, "platform_process_test.exe");

  // An entry whose start time is not the process's own names another
  // process that got the same id: it is left alone.
  platform::TProcessEntry stale = *b;
  stale.startTime += 1;
  EXPECT_FALSE(platform::TerminateProcess(stale, 9));

  EXPECT_TRUE(platform::TerminateProcess(*a, 5));
  EXPECT_EQ(first.Ended(), 5u);
  EXPECT_FALSE(platform::TerminateProcess(*a, 5)) << "a process that has ended is gone";
  EXPECT_TRUE(platform::TerminateProcess(*b, 6));
  EXPECT_EQ(second.Ended(), 6u);
}

} // namespace

// Processes: the snapshot and termination, with processes of unique names
// that only this test starts, and running programs and batch files to their
// end. The programs are shell scripts written without any mode bits, as
// files from the server arrive.
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;
using testsupport::TempFolder;

std::optional<platform::TProcessEntry> Find(uint32_t id) {
  for (const platform::TProcessEntry& p : platform::TakeProcessSnapshot())
    if (p.id == id) return p;
  return std::nullopt;
}

TEST(Process, SnapshotNamesAProcessAndTerminateEndsExactlyThatOne) {
  TempFolder folder;
  const std::string name = "zp" + std::to_string(::getpid()) + ".exe";
  std::filesystem::create_directories(folder.Utf8("测试"));
  std::filesystem::copy_file("/bin/sleep", folder.Utf8("测试/" + name));
  ChildProcess child({folder.Utf8("测试/" + name), "600"}, {}, folder.Utf8("out.txt"));

  // Until the child has started its program, the system shows it under the
  // name and the command line of the test that made it.
  std::optional<platform::TProcessEntry> entry;
  for (int i = 0; i < 200; ++i) {
    entry = Find(static_cast<uint32_t>(child.Pid()));
    if (entry && entry->exeName == name && !entry->exeFile.empty()) break;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->exeName, name);
  EXPECT_EQ(entry->exeFile, folder.Ansi("测试/" + name));

  // An entry of an earlier process that had the same id is not this one.
  platform::TProcessEntry stale = *entry;
  stale.startTime -= 1;
  EXPECT_FALSE(platform::TerminateProcess(stale, 0));
  EXPECT_FALSE(child.WaitFor(0ms).has_value());

  EXPECT_TRUE(platform::TerminateProcess(*entry, 0));
  EXPECT_EQ(child.WaitFor(10s), 128 + 9);
  EXPECT_FALSE(platform::TerminateProcess(*entry, 0));
  EXPECT_FALSE(Find(entry->id).has_value());
}

TEST(Process, SnapshotLeavesOutProcessesThatHaveEndedButAreNotReaped) {
  TempFolder folder;
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  ASSERT_EQ(posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ), 0);
  siginfo_t info{};
  // Waits for the end without reaping it.
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(Find(static_cast<uint32_t>(pid)).has_value());
  ::waitpid(pid, nullptr, 0);
}

// A program that records its folder and arguments into `record`, one per
// line, and ends with `code`.
void WriteProgram(const TempFolder& folder, const std::string& name, const std::string& record,
                  int code) {
  folder.Write(name, "#!/bin/sh\npwd >> '" + record + "'\nfor a in \"$@\"; do echo \"[$a]\" >> '" +
                         record + "'; done\nexit " + std::to_string(code) + "\n");
  ::chmod(folder.Utf8(name).c_str(), 0600);
}

TEST(Process, RunAndWaitStartsTheFileInItsFolderAndReturnsItsCode) {
  TempFolder folder;
  WriteProgram(folder, "程序 目录/安装.exe", folder.Utf8("record.txt"), 7);
  EXPECT_EQ(platform::RunAndWait(folder.Ansi("程序 目录/安装.exe"), platform::swHide), 7u);
  EXPECT_EQ(folder.Read("record.txt"), folder.Utf8("程序 目录") + "\n");
  EXPECT_EQ(platform::RunAndWait(folder.Ansi("missing.exe"), platform::swHide), 0u);
}

TEST(Process, TryRunAndWaitTellsAProgramThatCouldNotStartFromOneThatEndedWithZero) {
  TempFolder folder;
  WriteProgram(folder, "ok.exe", folder.Utf8("record.txt"), 0);
  folder.Write("page.exe", "<html>404</html>\n");
  folder.Write("no interpreter.exe", "#!/nonexistent/sh\n");
  folder.Write("lines.bat", "\"" + folder.Utf8("no interpreter.exe") + "\" /quiet\r\n");
  struct Case {
    const char* file;
    std::optional<uint32_t> code;
  } cases[] = {
      {"ok.exe", 0u},
      {"missing.exe", std::nullopt},
      {"page.exe", std::nullopt},
      {"no interpreter.exe", std::nullopt},
      {"missing.bat", std::nullopt},
      // The batch file ran; its line's program did not start.
      {"lines.bat", 9009u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(platform::TryRunAndWait(folder.Ansi(c.file), platform::swHide), c.code);
    // Callers of RunAndWait keep their 0 for a program that did not start.
    EXPECT_EQ(platform::RunAndWait(folder.Ansi(c.file), platform::swHide), c.code.value_or(0));
  }
}

TEST(Process, BatchLinesRunInOrderAndTheLastLineGivesTheCode) {
  TempFolder folder;
  const std::string record = folder.Utf8("record.txt");
  WriteProgram(folder, "a/一.exe", record, 3);
  WriteProgram(folder, "b/二.exe", record, 0);
  // Batch files are ANSI.
  const std::string one = "\"" + folder.Ansi("a/一.exe") + "\"";
  const std::string two = Utf8ToAnsi("\"b/二.exe\"");
  // Every line runs in the batch file's folder.
  const std::string here =
      std::filesystem::path(folder.Utf8("run.BAT")).parent_path().string() + "\n";
  struct Case {
    std::string lines;
    uint32_t code;
    std::string record;
  } cases[] = {
      {"", 0, ""},
      {one + " /quiet\r\n\r\n \t\r\n" + two + " \"x y\"\r\n", 0,
       here + "[/quiet]\n" + here + "[x y]\n"},
      {two + "\n" + one + "\n", 3, here + here},
      {one + " /quiet\r\n\"" + folder.Ansi("missing.exe") + "\" /quiet\r\n", 9009,
       here + "[/quiet]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    std::filesystem::remove(record);
    folder.Write("run.BAT", c.lines);
    EXPECT_EQ(platform::RunAndWait(folder.Ansi("run.BAT"), platform::swHide), c.code);
    EXPECT_EQ(folder.Read("record.txt"), c.record);
  }
}

TEST(Process, BatchLineWordsAreSplitAtBlanksOutsideQuotes) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"\"/a b/c.exe\" /quiet", {"/a b/c.exe", "/quiet"}},
      {"prog  one\ttwo ", {"prog", "one", "two"}},
      {"\"/w/a;b$(touch x)`id`\"q/i.exe\" /quiet", {"/w/a;b$(touch x)`id`\"q/i.exe", "/quiet"}},
      {"\"\" x", {"", "x"}},
      {"\"open to the end", {"open to the end"}},
      {"a\"b c\"d", {"ab c\"d"}},
      // %% stands for %, as in the command interpreter; a lone % is kept.
      {"\"/w/a%%PATH%%b/i.exe\" 100%", {"/w/a%PATH%b/i.exe", "100%"}},
      {"%%%", {"%%"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(platform::SplitBatchLine(c.line), c.words);
  }
  for (const char* text : {"/w/plain.exe", "/w/%PATH%/%/%%.exe"})
    EXPECT_EQ(platform::SplitBatchLine(platform::EscapeBatchText(text)),
              std::vector<std::string>{text});
}

} // namespace

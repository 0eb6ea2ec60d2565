// The real `update` program: its window under a virtual X display, found by
// its caption, and runs that end during start-up without touching a display.
// Each test copies the program into a folder of its own, beside the
// configuration files it needs, and stops what it started by process id.
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// A child process started with posix_spawn; killed and reaped on destruction
// unless it has been waited for.
class ChildProcess {
public:
  // `env` entries replace or (with an empty optional) remove variables of
  // this process's environment. stdout and stderr go to `outputFile`.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::optional<std::string>>& env,
               const std::string& outputFile, std::optional<int> extraFd = std::nullopt) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
      std::string entry(*e);
      if (!env.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
    }
    for (const auto& [name, value] : env)
      if (value) envStrings.push_back(name + "=" + *value);

    std::vector<char*> args, envp;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : envStrings)
      envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (extraFd) posix_spawn_file_actions_adddup2(&actions, *extraFd, 3);
    int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }

  // The exit status once the process has ended within `limit`; nullopt while
  // it still runs. A process killed by a signal reports 128 + the signal.
  std::optional<int> WaitFor(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
  }

  // Asks the process to end and reaps it.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!WaitFor(5s)) {
      ::kill(pid_, SIGKILL);
      WaitFor(5s);
    }
  }

private:
  pid_t pid_ = -1;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Xvfb on a display number that it picks itself (-displayfd), so that tests
// running side by side never share one. Without -noreset the server resets
// when its last client leaves, and a program connecting just then (while
// xwininfo polls, say) is refused.
class VirtualDisplay {
public:
  explicit VirtualDisplay(const std::string& logFile) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0",
                                             "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                    std::map<std::string, std::optional<std::string>>{}, logFile, fds[1]);
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    // Xvfb writes the number once it accepts clients.
    while (::poll(&p, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    ::close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start: " + ReadFile(logFile));
    name_ = ":" + number;
  }
  ~VirtualDisplay() { server_->Stop(); }

  const std::string& Name() const { return name_; }

  // Output of a command run against this display.
  std::string Run(const std::string& command) const {
    std::string output;
    FILE* pipe = ::popen(("DISPLAY=" + name_ + " " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      output.append(buffer, n);
    ::pclose(pipe);
    return output;
  }

private:
  std::optional<ChildProcess> server_;
  std::string name_;
};

struct WindowPlace {
  int width, height, left, top;
};

// The top-level window whose name is `caption`, as xwininfo lists it:
//   0x200003 "在线升级": ("FLTK" "FLTK")  424x640+428+192  +428+192
std::optional<WindowPlace> FindWindow(const VirtualDisplay& display, const std::string& caption,
                                      std::chrono::milliseconds limit) {
  const std::string name = "\"" + caption + "\":";
  auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    std::istringstream tree(display.Run("xwininfo -root -tree"));
    for (std::string line; std::getline(tree, line);) {
      if (line.find(name) == std::string::npos) continue;
      std::istringstream words(line.substr(line.find(name) + name.size()));
      for (std::string word; words >> word;) {
        WindowPlace p{};
        int used = 0;
        if (std::sscanf(word.c_str(), "%dx%d%d%d%n", &p.width, &p.height, &p.left, &p.top, &used) ==
                4 &&
            used == static_cast<int>(word.size()))
          return p;
      }
    }
    std::this_thread::sleep_for(100ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

class UpdateProgramTest : public ::testing::Test {
protected:
  UpdateProgramTest() {
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, folder_.Utf8("update"));
    folder_.MakeFolder("tmp");
  }

  // A configuration whose update server refuses every connection at once.
  void WriteConfig() {
    folder_.Write("VersionCfg.ini", "[Version]\r\nCurVersion=1\r\n[HTTP]\r\n"
                                    "URLUseCDN=http://127.0.0.1:1/\r\n"
                                    "URLWithnotCDN=http://127.0.0.1:1/\r\n");
  }

  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                      std::optional<std::string> display) {
    std::vector<std::string> argv{folder_.Utf8("update")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(
        argv,
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display},
            {"TMPDIR", folder_.Utf8("tmp")},
            {"UPDATE_REGISTRY_FILE", folder_.Utf8("registry.ini")},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        folder_.Utf8("output.txt"));
  }
  std::string Output() const { return ReadFile(folder_.Utf8("output.txt")); }

  testsupport::TempFolder folder_;
};

TEST_F(UpdateProgramTest, RunsThatEndDuringStartUpNeverOpenADisplay) {
  WriteConfig();
  folder_.Write("Region.ini", "[Region]\r\nRegion=1\r\n");
  // Sample-text mode and the silent check of program-update mode, each with
  // no display at all and with one that does not exist.
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-ZB", "施工"}, std::vector<std::string>{"-TB"}}) {
    for (std::optional<std::string> display :
         {std::optional<std::string>(), std::optional<std::string>(":987")}) {
      SCOPED_TRACE(args.size() == 2 ? "sample-text mode" : "program-update mode");
      auto program = Start(args, display);
      auto status = program->WaitFor(30s);
      ASSERT_TRUE(status.has_value()) << "still running";
      EXPECT_EQ(*status, 0) << Output();
      EXPECT_EQ(Output(), "");
    }
  }
}

TEST_F(UpdateProgramTest, RunThatShowsTheWindowNeedsTheDisplay) {
  // The counterpart of the test above: this start shows the window, so
  // without a display it fails instead of ending quietly.
  WriteConfig();
  auto program = Start({"-ZB", "施工"}, std::nullopt);
  auto status = program->WaitFor(30s);
  ASSERT_TRUE(status.has_value()) << "still running";
  EXPECT_NE(*status, 0);
  EXPECT_NE(Output().find("display"), std::string::npos) << Output();
}

class UpdateWindowTest : public UpdateProgramTest {
protected:
  UpdateWindowTest() : display_(folder_.Utf8("xvfb.log")) {}

  // The window of a started program, checked to be centred on the 1280 x 1024
  // screen with the given size.
  void ExpectWindow(ChildProcess& program, int width, int height) {
    auto place = FindWindow(display_, "在线升级", 20s);
    ASSERT_TRUE(place.has_value()) << "no window; program output:\n" << Output();
    EXPECT_EQ(place->width, width);
    EXPECT_EQ(place->height, height);
    EXPECT_EQ(place->left, (1280 - width) / 2);
    EXPECT_EQ(place->top, (1024 - height) / 2);
    EXPECT_FALSE(program.WaitFor(0ms).has_value()) << "the program ended with the window up";
  }

  VirtualDisplay display_;
};

TEST_F(UpdateWindowTest, WithoutConfigTheWindowIsFullHeight) {
  auto program = Start({"-ZB"}, display_.Name());
  ExpectWindow(*program, 424, 640);
  program->Stop();
}

TEST_F(UpdateWindowTest, WithConfigTheWindowIsShrunkToTheCheckingPanel) {
  WriteConfig();
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-ZB"}, std::vector<std::string>{"-TB", "施工"}}) {
    SCOPED_TRACE(args.size() == 2 ? "sample-text mode" : "program-update mode");
    auto program = Start(args, display_.Name());
    ExpectWindow(*program, 424, 270);
    program->Stop();
  }
}

TEST_F(UpdateWindowTest, ClickOnTheCloseGlyphEndsTheProgram) {
  WriteConfig();
  auto program = Start({"-ZB"}, display_.Name());
  auto place = FindWindow(display_, "在线升级", 20s);
  ASSERT_TRUE(place.has_value()) << Output();
  // The glyph is 9 x 11 at (405, 7) of the title band.
  display_.Run("xdotool mousemove " + std::to_string(place->left + 409) + " " +
               std::to_string(place->top + 12) + " click 1");
  auto status = program->WaitFor(10s);
  ASSERT_TRUE(status.has_value()) << "the window stayed open";
  EXPECT_EQ(*status, 0);
}

} // namespace

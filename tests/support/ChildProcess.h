#pragma once
// A child process for tests that run a real program or server: started with
// posix_spawn, its output captured in a file, stopped and reaped by its
// process id, never by name.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

// A child process started with posix_spawn; killed and reaped on destruction
// unless it has been waited for.
class ChildProcess {
public:
  // `argv[0]` is the program's full path. `env` entries replace or (with an
  // empty optional) remove variables of this process's environment. stdout
  // and stderr go to `outputFile`; `extraFd`, when given, becomes the child's
  // descriptor 3. With `ownProcessGroup` the child leads a process group of
  // its own (its id is the child's), which takes in what it starts. Raises
  // std::runtime_error when the program cannot start.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::optional<std::string>>& env,
               const std::string& outputFile, std::optional<int> extraFd = std::nullopt,
               bool ownProcessGroup = false) {
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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownProcessGroup) {
      posix_spawnattr_setpgroup(&attributes, 0);
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    }
    int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
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
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Asks the process to end and reaps it.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!WaitFor(std::chrono::seconds(5))) {
      ::kill(pid_, SIGKILL);
      WaitFor(std::chrono::seconds(5));
    }
  }

private:
  pid_t pid_ = -1;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace testsupport

#pragma once
// A virtual X display for tests of the real window.
#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

namespace testsupport {

// Xvfb on a display number that it picks itself (-displayfd), so that tests
// running side by side never share one. Without -noreset the server resets
// when its last client leaves, and a program connecting just then (while
// xwininfo polls, say) is refused.
class VirtualDisplay {
public:
  explicit VirtualDisplay(const std::string& logFile) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (fds[1] == 3) {
      // Duplicating a descriptor onto itself would keep its close-on-exec flag.
      int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
      ::close(fds[1]);
      fds[1] = moved;
    }
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

} // namespace testsupport

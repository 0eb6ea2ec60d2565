#pragma once
// The update servers of the integration tests: nginx serving a folder, and
// our fault server playing one fault. Each runs on a free loopback port, is
// started by the test and stopped by its process id when the test ends.
#include "tests/support/ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// True when something accepts connections on 127.0.0.1:port.
inline bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// A loopback address whose connections are never completed: a listener that
// never accepts, with its queue filled by connections of its own, so that the
// system drops a new connection attempt and the client's connect waits for as
// long as it retries (minutes), as with a server that resolves but never
// answers.
class UnansweredListener {
public:
  UnansweredListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
      Close();
      throw std::runtime_error("no loopback listener");
    }
    port_ = ntohs(addr.sin_port);
    // Connections that complete at once take a place in the queue; the first
    // one that does not shows it full.
    for (int i = 0; i < 16; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      pollfd wait{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      if (::poll(&wait, 1, 200) == 1 &&
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
        queued_.push_back(fd);
        continue;
      }
      ::close(fd);
      return;
    }
    Close();
    throw std::runtime_error("the listener's queue did not fill");
  }
  ~UnansweredListener() { Close(); }
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;

  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
  void Close() {
    for (int fd : queued_)
      ::close(fd);
    queued_.clear();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

  int listener_ = -1;
  int port_ = 0;
  std::vector<int> queued_;
};

// nginx serving `rootUtf8` on a free loopback port. `serverConfig` is added
// to the server block (a `location` with `limit_rate`, say), `httpConfig` to
// the http block before it (a `log_format`, say). Its files, configuration
// and logs live in `workUtf8`.
class NginxServer {
public:
  // With `tls`, the server speaks HTTPS with the certificate and key
  // `workUtf8`/server.crt and server.key, made by the caller.
  NginxServer(const std::string& rootUtf8, const std::string& workUtf8,
              const std::string& serverConfig = {}, bool tls = false,
              const std::string& httpConfig = {})
      : accessLog_(workUtf8 + "/access.log") {
    std::filesystem::create_directories(workUtf8);
    std::mt19937 random(
        static_cast<unsigned>(::getpid()) ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    // A port may be taken between the choice and nginx's bind: try others.
    for (int attempt = 0; attempt < 10 && !process_; ++attempt) {
      int port = 20000 + static_cast<int>(random() % 40000);
      if (Accepts(port)) continue;
      std::string conf = workUtf8 + "/nginx.conf";
      std::ofstream(conf) << (::getuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\n"
                          << "pid " << workUtf8 << "/nginx.pid;\n"
                          << "error_log " << workUtf8 << "/error.log;\n"
                          << "daemon off;\n"
                          << "events { worker_connections 64; }\n"
                          << "http {\n"
                          << "  access_log " << workUtf8 << "/access.log;\n"
                          << "  client_body_temp_path " << workUtf8 << "/body;\n"
                          << "  proxy_temp_path " << workUtf8 << "/proxy;\n"
                          << "  fastcgi_temp_path " << workUtf8 << "/fastcgi;\n"
                          << "  uwsgi_temp_path " << workUtf8 << "/uwsgi;\n"
                          << "  scgi_temp_path " << workUtf8 << "/scgi;\n"
                          << "  default_type application/octet-stream;\n"
                          << httpConfig << "\n"
                          << "  server {\n"
                          << "    listen 127.0.0.1:" << port << (tls ? " ssl" : "") << ";\n"
                          << (tls ? "    ssl_certificate " + workUtf8 +
                                        "/server.crt;\n    ssl_certificate_key " + workUtf8 +
                                        "/server.key;\n"
                                  : std::string())
                          << "    root " << rootUtf8 << ";\n"
                          << serverConfig << "\n"
                          << "  }\n"
                          << "}\n";
      auto p = std::make_unique<ChildProcess>(
          std::vector<std::string>{"/usr/sbin/nginx", "-p", workUtf8, "-c", conf},
          std::map<std::string, std::optional<std::string>>{}, workUtf8 + "/stderr.log");
      for (int i = 0; i < 100; ++i) {
        if (Accepts(port)) {
          process_ = std::move(p);
          port_ = port;
          break;
        }
        if (p->WaitFor(std::chrono::milliseconds(50))) break; // it failed to bind
      }
    }
    if (!process_)
      throw std::runtime_error("nginx did not start: " + ReadFile(workUtf8 + "/error.log"));
  }
  ~NginxServer() {
    if (process_) process_->Stop();
  }
  NginxServer(NginxServer&&) = default;

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  pid_t Pid() const { return process_->Pid(); }

  // Waits until the access log holds `text` in `times` requests; nginx
  // writes a request's line once it has sent the answer.
  bool Logged(const std::string& text, std::chrono::milliseconds limit, int times = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      const std::string log = ReadFile(accessLog_);
      int seen = 0;
      for (size_t at = log.find(text); at != std::string::npos && seen < times;
           at = log.find(text, at + 1))
        ++seen;
      if (seen >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

private:
  std::string accessLog_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

#ifdef UPDATER_FAULT_SERVER
// The fault server of tests/support/fault_server.cpp serving `fileUtf8`.
// `options` are further arguments ("--validators", "none", say). Two
// servers of one mode need folders of their own.
class FaultServer {
public:
  FaultServer(const std::string& fileUtf8, const std::string& workUtf8, const std::string& mode,
              long arg = 0, const std::vector<std::string>& options = {})
      : log_(workUtf8 + "/fault-" + mode + ".log") {
    std::filesystem::create_directories(workUtf8);
    const std::string portFile = workUtf8 + "/fault-" + mode + ".port";
    std::filesystem::remove(portFile);
    std::filesystem::remove(log_);
    std::vector<std::string> argv{UPDATER_FAULT_SERVER,
                                  "--file",
                                  fileUtf8,
                                  "--port-file",
                                  portFile,
                                  "--log",
                                  log_,
                                  "--mode",
                                  mode,
                                  "--arg",
                                  std::to_string(arg)};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ =
        std::make_unique<ChildProcess>(argv, std::map<std::string, std::optional<std::string>>{},
                                       workUtf8 + "/fault-" + mode + ".out");
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::ifstream(portFile) >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (port_ == 0) throw std::runtime_error("fault server did not start");
  }
  ~FaultServer() {
    if (process_) process_->Stop();
  }
  FaultServer(FaultServer&&) = default;

  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // One line per request: "GET /path range=bytes=0-99", and " if-range=V"
  // when the request carried one.
  std::string Requests() const { return ReadFile(log_); }
  // Ends the server: its port then refuses connections.
  void Stop() { process_.reset(); }

private:
  std::string log_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};
#endif

} // namespace testsupport

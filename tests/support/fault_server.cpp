// A small HTTP/1.1 server that plays the faults of an update server, for the
// transfer tests. It serves one file under any path and writes one line per
// request to its log ("GET /path range=bytes=0-99", with " if-range=V" when
// the request carried one), so that a test can see what was asked.
//
//   fault_server --file F --port-file P --log L [--mode M] [--arg N]
//                [--validators both|etag|last-modified|none]
//                [--if-range honour|ignore] [--get-file G]
//
// The file is read again for every request, so that a test may publish
// another version under the same URL between two runs. Its validators are
// taken from its bytes: each version has its own ETag and its own
// Last-Modified date (--validators chooses which are sent; both by default).
// A GET whose If-Range names another version than the file's gets the whole
// file (200), unless --if-range ignore. --get-file G serves G to GETs while
// HEADs still describe F: the file changed between the two.
//
// Modes:
//   normal        HEAD with Content-Length, GET honouring a Range (206)
//   cut           as normal, but the first GET is cut off after N body bytes
//   ignore-range  every GET answers 200 with the whole file
//   no-length     no Content-Length; the body ends when the connection closes
//   status        every request answers with status N
//   redirect      /real/... is served as normal; any other path answers 302
//                 with Location /real/<path>
//   slow          the body goes out in pieces of 1024 bytes, N ms apart
//   silent        connections are accepted and never answered
//   huge          HEAD announces a package of 3 GiB; GET closes at once
//
// The port (chosen by the system) is written to the port file once the
// server accepts connections. It runs until it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  std::string file, getFile, portFile, log;
  std::string mode = "normal";
  std::string validators = "both";
  std::string ifRange = "honour";
  long arg = 0;
};

Options opt;
std::mutex mutex; // guards getCount and the log
int getCount = 0;

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
bool SendAll(int fd, const std::string& s) {
  return SendAll(fd, s.data(), s.size());
}

std::string Header(const std::string& head, const std::string& name) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  std::string key = "\r\n" + name + ":";
  size_t p = lower.find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  size_t e = head.find("\r\n", p);
  std::string v = head.substr(p, e - p);
  v.erase(0, v.find_first_not_of(' '));
  return v;
}

std::string Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The validators of one version of the file: an ETag and a date, both
// derived from its bytes (FNV-1a).
struct Validators {
  std::string etag, lastModified;
};
Validators ValidatorsOf(const std::string& body) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : body)
    hash = (hash ^ c) * 1099511628211ull;
  char etag[32];
  std::snprintf(etag, sizeof etag, "\"%016llx\"", static_cast<unsigned long long>(hash));
  const time_t when = static_cast<time_t>(1500000000 + hash % 300000000);
  tm parts{};
  ::gmtime_r(&when, &parts);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return {etag, date};
}

std::string ValidatorHeaders(const Validators& v) {
  std::string h;
  if (opt.validators == "both" || opt.validators == "etag") h += "ETag: " + v.etag + "\r\n";
  if (opt.validators == "both" || opt.validators == "last-modified")
    h += "Last-Modified: " + v.lastModified + "\r\n";
  return h;
}

void Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex);
  std::ofstream(opt.log, std::ios::app) << line << "\n";
}

// Answers one request; false when the connection must close.
bool Answer(int fd, const std::string& head) {
  std::string method = head.substr(0, head.find(' '));
  size_t pathStart = method.size() + 1;
  std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
  std::string range = Header(head, "range");
  const std::string ifRange = Header(head, "if-range");
  Log(method + " " + path + " range=" + range + (ifRange.empty() ? "" : " if-range=" + ifRange));
  const bool isGet = method == "GET";
  int getNumber = 0;
  if (isGet) {
    std::lock_guard<std::mutex> lock(mutex);
    getNumber = ++getCount;
  }

  if (opt.mode == "status") {
    std::string reason = opt.arg == 404 ? "Not Found" : "Error";
    return SendAll(fd, "HTTP/1.1 " + std::to_string(opt.arg) + " " + reason +
                           "\r\nContent-Length: 0\r\n\r\n");
  }
  if (opt.mode == "huge")
    return !isGet && SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3221225472\r\n\r\n");
  if (opt.mode == "redirect" && path.rfind("/real/", 0) != 0) {
    return SendAll(fd, "HTTP/1.1 302 Found\r\nLocation: /real" + path +
                           "\r\nContent-Length: 0\r\n\r\n");
  }

  const std::string body = Load(isGet && !opt.getFile.empty() ? opt.getFile : opt.file);
  const Validators validators = ValidatorsOf(body);
  // A range on another version than the one the client holds part of is
  // answered with the whole file.
  const bool stale = opt.ifRange == "honour" && !ifRange.empty() && ifRange != validators.etag &&
                     ifRange != validators.lastModified;
  const long long size = static_cast<long long>(body.size());
  long long first = 0, last = size - 1;
  bool partial = false;
  if (!range.empty() && !stale && opt.mode != "ignore-range" && opt.mode != "no-length") {
    long long a = -1, b = -1;
    int n = std::sscanf(range.c_str(), "bytes=%lld-%lld", &a, &b);
    if (n >= 1 && a >= 0) {
      if (a >= size)
        return SendAll(fd, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                               std::to_string(size) + "\r\nContent-Length: 0\r\n\r\n");
      first = a;
      if (n == 2 && b >= a) last = std::min(b, size - 1);
      partial = true;
    }
  }
  long long length = last - first + 1;
  std::string h = partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
  if (partial)
    h += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
         std::to_string(size) + "\r\n";
  h += ValidatorHeaders(validators);
  const bool noLength = opt.mode == "no-length";
  if (noLength)
    h += "Connection: close\r\n";
  else
    h += "Content-Length: " + std::to_string(length) + "\r\n";
  h += "\r\n";
  if (!SendAll(fd, h)) return false;
  if (!isGet) return !noLength;

  long long toSend = length;
  if (opt.mode == "cut" && getNumber == 1) toSend = std::min<long long>(length, opt.arg);
  const char* data = body.data() + first;
  if (opt.mode == "slow") {
    for (long long sent = 0; sent < toSend; sent += 1024) {
      if (!SendAll(fd, data + sent, static_cast<size_t>(std::min<long long>(1024, toSend - sent))))
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(opt.arg));
    }
  } else if (!SendAll(fd, data, static_cast<size_t>(toSend))) {
    return false;
  }
  return toSend == length && !noLength;
}

void Serve(int fd) {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    std::string head = buffer.substr(0, end + 2);
    buffer.erase(0, end + 4);
    if (!Answer(fd, head)) return;
  }
}

} // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--file")
      opt.file = v;
    else if (k == "--port-file")
      opt.portFile = v;
    else if (k == "--log")
      opt.log = v;
    else if (k == "--mode")
      opt.mode = v;
    else if (k == "--arg")
      opt.arg = std::atol(v.c_str());
    else if (k == "--validators")
      opt.validators = v;
    else if (k == "--if-range")
      opt.ifRange = v;
    else if (k == "--get-file")
      opt.getFile = v;
  }

  int server = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(server, 16) != 0) {
    std::perror("fault_server");
    return 1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
  {
    std::string tmp = opt.portFile + ".tmp";
    std::ofstream(tmp) << ntohs(addr.sin_port) << "\n";
    std::rename(tmp.c_str(), opt.portFile.c_str());
  }

  // One thread per connection, so that a client holding a connection open
  // never keeps another one waiting. Silent mode keeps every connection open.
  std::vector<int> held;
  for (;;) {
    int fd = ::accept(server, nullptr, nullptr);
    if (fd < 0) continue;
    if (opt.mode == "silent") {
      held.push_back(fd);
      continue;
    }
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::thread([fd] {
      Serve(fd);
      ::close(fd);
    }).detach();
  }
}

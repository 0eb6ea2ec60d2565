// THttpClient over WinINet: one Internet session per client, opened with the
// user's preconfigured proxy settings, and a connection and request handle
// per request. WinINet reads on the calling thread, so the work event and a
// Disconnect() from inside it need no callbacks.
//
// Traps:
// - InternetReadFile reports a connection that closes early as a normal end
//   of the body; the bytes received are compared with Content-Length.
// - WinINet's receive time-out bounds each wait for data, not the request:
//   the total time is checked between reads, and without a read time-out the
//   total one bounds each wait too.
// - WinINet would send the bytes of the ANSI URL as they are; each byte above
//   0x7F (and each blank) is percent-encoded first, as on Linux.
#include "platform/HttpClient.h"

#include "platform/CodePage.h"
#include "platform/PlatformTexts.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"
#include "platform/win32/SystemError.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kReceiveBufferSize = 512 * 1024;

void CloseInternetHandle(HINTERNET h) {
  InternetCloseHandle(h);
}
using InternetHandle = win32::UniqueHandle<HINTERNET, &CloseInternetHandle, nullptr>;

std::string EncodeUrl(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : url) {
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x7F || b <= 0x20) {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct ParsedUrl {
  bool ok = false;
  bool secure = false;
  std::string host;
  INTERNET_PORT port = 0;
  std::string object; // path and query
};

ParsedUrl ParseUrl(const std::string& encoded) {
  ParsedUrl parsed;
  std::vector<char> scheme(32), host(1024), path(encoded.size() + 2), extra(encoded.size() + 2);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszScheme = scheme.data();
  parts.dwSchemeLength = static_cast<DWORD>(scheme.size());
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlA(encoded.c_str(), static_cast<DWORD>(encoded.size()), 0, &parts))
    return parsed;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
    return parsed;
  parsed.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  parsed.host.assign(host.data(), parts.dwHostNameLength);
  parsed.port = parts.nPort;
  parsed.object.assign(path.data(), parts.dwUrlPathLength);
  parsed.object.append(extra.data(), parts.dwExtraInfoLength);
  if (parsed.object.empty()) parsed.object = "/";
  parsed.ok = !parsed.host.empty();
  return parsed;
}

// "host:port" of the URL, for error texts; the URL itself when it does not
// parse.
std::string ServerOf(const std::string& url, const ParsedUrl& parsed) {
  return parsed.ok ? parsed.host + ":" + std::to_string(parsed.port) : url;
}

// The first byte of a range text "first-last", or -1 when it has none.
int64_t RangeFirst(const std::string& range) {
  int64_t first = -1;
  auto [end, ec] = std::from_chars(range.data(), range.data() + range.size(), first);
  if (ec != std::errc() || end == range.data() + range.size() || *end != '-') return -1;
  return first;
}

// A response header's text; empty when the response has none.
std::string QueryHeader(HINTERNET request, DWORD info) {
  std::vector<char> buffer(256);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD index = 0;
    if (HttpQueryInfoA(request, info, buffer.data(), &size, &index))
      return std::string(buffer.data(), size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    buffer.resize(size + 1);
  }
  return {};
}

int64_t ParseNumber(const std::string& text) {
  int64_t value = -1;
  const char* first = text.data();
  while (first < text.data() + text.size() && *first == ' ')
    ++first;
  auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  return ec == std::errc() && end != first ? value : -1;
}

// The first byte named by "Content-Range: bytes first-last/size", or -1.
int64_t ContentRangeFirst(HINTERNET request) {
  const std::string value = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
  const size_t p = value.find_first_of("0123456789");
  if (p == std::string::npos || value.compare(0, 5, "bytes") != 0) return -1;
  return ParseNumber(value.substr(p));
}

void SetTimeout(HINTERNET h, DWORD option, int ms) {
  DWORD value = static_cast<DWORD>(ms);
  InternetSetOptionA(h, option, &value, sizeof value);
}

} // namespace

struct THttpClient::Handle {
  Handle() {
    session.reset(InternetOpenA("Update", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) throw EHttpError(win32::SystemErrorText(GetLastError()), 0);
  }
  InternetHandle session;
};

// The state of one request.
struct THttpClient::Transfer {
  TStream* target = nullptr; // null for HEAD
  int64_t targetStart = 0;
  int64_t rangeFirst = -1;
  int64_t received = 0;
  int64_t reported = 0;
  Clock::time_point lastEvent{};
};

THttpClient::THttpClient() : handle_(std::make_unique<Handle>()) {}

THttpClient::~THttpClient() = default;

void THttpClient::Head(const std::string& url) {
  Transfer t;
  Perform(url, &t);
}

void THttpClient::Get(const std::string& url, TStream& target) {
  Transfer t;
  t.target = &target;
  t.targetStart = target.GetPosition();
  t.rangeFirst = RangeFirst(range_);
  Perform(url, &t);
}

void THttpClient::Perform(const std::string& url, Transfer* t) {
  disconnected_ = false;
  contentLength_ = -1;
  responseCode_ = 0;
  bodyOffset_ = 0;
  bodyBytes_ = 0;
  etag_.clear();
  lastModified_.clear();
  // The bytes in the target are counted however the request ends.
  struct BodyCount {
    int64_t& count;
    const Transfer& transfer;
    ~BodyCount() { count = transfer.received; }
  } bodyCount{bodyBytes_, *t};
  const Clock::time_point start = Clock::now();
  const ParsedUrl parsed = ParseUrl(EncodeUrl(url));
  const std::string server = ServerOf(url, parsed);
  if (!parsed.ok)
    throw EHttpError(FormatText(texts::kConnectFailed, server, texts::kBadUrl.str()), 0);
  auto failure = [&](const AnsiText& pattern) {
    return EHttpError(FormatText(pattern, server, win32::SystemErrorText(GetLastError())), 0);
  };

  struct RequestScope {
    bool& flag;
    explicit RequestScope(bool& f) : flag(f) { flag = true; }
    ~RequestScope() { flag = false; }
  } scope(inRequest_);

  InternetHandle connection(InternetConnectA(handle_->session.get(), parsed.host.c_str(),
                                             parsed.port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                             0, 0));
  if (!connection) throw failure(texts::kConnectFailed);
  if (connectTimeoutMs_ > 0)
    SetTimeout(connection.get(), INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs_);
  // Without a read time-out the whole request's limit bounds each wait.
  const int waitMs = readTimeoutMs_ > 0 ? readTimeoutMs_ : totalTimeoutMs_;
  if (waitMs > 0) {
    SetTimeout(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, waitMs);
    SetTimeout(connection.get(), INTERNET_OPTION_SEND_TIMEOUT, waitMs);
  }

  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_KEEP_CONNECTION;
  if (parsed.secure) flags |= INTERNET_FLAG_SECURE;
  if (!followRedirects_) flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
  const char* acceptTypes[] = {"*/*", nullptr};
  InternetHandle request(HttpOpenRequestA(connection.get(), t->target ? "GET" : "HEAD",
                                          parsed.object.c_str(), "HTTP/1.1", nullptr, acceptTypes,
                                          flags, 0));
  if (!request) throw failure(texts::kConnectFailed);
  std::string headers = range_.empty() ? std::string() : "Range: bytes=" + range_ + "\r\n";
  if (!ifRange_.empty()) headers += "If-Range: " + ifRange_ + "\r\n";
  if (!HttpSendRequestA(request.get(), headers.empty() ? nullptr : headers.c_str(),
                        static_cast<DWORD>(headers.size()), nullptr, 0)) {
    const DWORD error = GetLastError();
    if (error == ERROR_INTERNET_TIMEOUT && readTimeoutMs_ > 0)
      throw EHttpError(FormatText(texts::kReadTimedOut, server, readTimeoutMs_), 0);
    throw EHttpError(FormatText(texts::kConnectFailed, server, win32::SystemErrorText(error)), 0);
  }

  DWORD code = 0;
  DWORD size = sizeof code;
  DWORD index = 0;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                 &index);
  responseCode_ = static_cast<int>(code);
  contentLength_ = ParseNumber(QueryHeader(request.get(), HTTP_QUERY_CONTENT_LENGTH));
  etag_ = QueryHeader(request.get(), HTTP_QUERY_ETAG);
  lastModified_ = QueryHeader(request.get(), HTTP_QUERY_LAST_MODIFIED);
  if (code < 200 || code > 299)
    throw EHttpError(FormatText(texts::kStatusError, server, static_cast<int>(code)),
                     static_cast<int>(code));
  if (!t->target) return;

  // Where the first body byte goes.
  if (t->rangeFirst >= 0) {
    const int64_t first = code == 206 ? ContentRangeFirst(request.get()) : 0;
    if (code == 206 && first != t->rangeFirst)
      throw EHttpError(FormatText(texts::kRangeMismatch, server), static_cast<int>(code));
    if (first == t->rangeFirst) {
      bodyOffset_ = first;
    } else {
      // The whole resource came: it starts `rangeFirst` bytes before the
      // place the caller prepared for byte `rangeFirst`.
      if (t->targetStart < t->rangeFirst)
        throw EHttpError(FormatText(texts::kRangeMismatch, server), static_cast<int>(code));
      t->target->SetPosition(t->targetStart - t->rangeFirst);
    }
  }

  auto raiseWork = [&] {
    t->reported = t->received;
    t->lastEvent = Clock::now();
    if (onWork_) onWork_(*this, t->received);
  };
  std::vector<char> buffer(kReceiveBufferSize);
  for (;;) {
    // Take what has arrived: a read of the whole buffer waits until it is
    // full, and on a slow link the progress, the speed and a disconnect from
    // the work event would wait seconds with it. At the end nothing is
    // available and nothing is read.
    DWORD available = 0;
    DWORD n = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) ||
        (available > 0 && !InternetReadFile(request.get(), buffer.data(),
                                            std::min(available, kReceiveBufferSize), &n))) {
      const DWORD error = GetLastError();
      // The bytes in the target are counted before the failure is told.
      if (t->received > t->reported) raiseWork();
      if (disconnected_) return;
      if (error == ERROR_INTERNET_TIMEOUT && readTimeoutMs_ > 0)
        throw EHttpError(FormatText(texts::kReadTimedOut, server, readTimeoutMs_), 0);
      throw EHttpError(FormatText(texts::kTransferFailed, server, win32::SystemErrorText(error)),
                       0);
    }
    if (n == 0) break;
    t->target->WriteBuffer(buffer.data(), n);
    t->received += n;
    if (t->reported == 0 ||
        Clock::now() - t->lastEvent >= std::chrono::milliseconds(kWorkEventIntervalMs))
      raiseWork();
    if (disconnected_) return;
    if (totalTimeoutMs_ > 0 && Clock::now() - start > std::chrono::milliseconds(totalTimeoutMs_)) {
      if (t->received > t->reported) raiseWork();
      if (disconnected_) return;
      throw EHttpError(FormatText(texts::kTransferFailed, server,
                                  win32::SystemErrorText(ERROR_INTERNET_TIMEOUT)),
                       0);
    }
  }
  if (t->received > t->reported) raiseWork();
  if (disconnected_) return;
  if (contentLength_ >= 0 && t->received < contentLength_)
    throw EHttpError(FormatText(texts::kTransferFailed, server, texts::kClosedEarly.str()), 0);
}

namespace {

// The thread of one reachability check. It owns the URL it is given and
// ends with 1 when the server was reached.
DWORD WINAPI CheckConnection(void* url) {
  const std::unique_ptr<std::string> owned(static_cast<std::string*>(url));
  return InternetCheckConnectionA(owned->c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != 0 ? 1 : 0;
}

void CloseThreadHandle(HANDLE h) {
  CloseHandle(h);
}
using ThreadHandle = win32::UniqueHandle<HANDLE, &CloseThreadHandle, nullptr>;

} // namespace

// InternetCheckConnectionA has no time limit: a server that resolves but
// never completes the connection holds it for as long as the system retries.
// So it runs on a thread of its own, which is waited for `timeoutMs`; one
// still running then counts as no connection and ends by itself later,
// needing nothing of the caller's.
bool CanConnectTo(const std::string& url, int timeoutMs) {
  try {
    auto encoded = std::make_unique<std::string>(EncodeUrl(url));
    ThreadHandle thread(CreateThread(nullptr, 0, &CheckConnection, encoded.get(), 0, nullptr));
    if (!thread) return false;
    encoded.release();
    const DWORD wait = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : INFINITE;
    DWORD code = 0;
    return WaitForSingleObject(thread.get(), wait) == WAIT_OBJECT_0 &&
           GetExitCodeThread(thread.get(), &code) && code == 1;
  } catch (...) {
    return false;
  }
}

} // namespace platform

// THttpClient over libcurl's easy interface: one handle per client, reused
// from request to request, so that a HEAD and the GET after it share the
// connection.
//
// libcurl is C: nothing may be thrown through it. The callbacks catch what
// the target stream or the work event raise, stop the transfer, and the
// error is raised again once curl_easy_perform has returned.
#include "platform/HttpClient.h"

#include "platform/CodePage.h"
#include "platform/PlatformTexts.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"

#include <curl/curl.h>

#include <charconv>
#include <chrono>
#include <exception>
#include <mutex>
#include <stdexcept>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Large receive blocks keep the per-block work small on fast links; the work
// event is throttled separately.
constexpr long kReceiveBufferSize = 512 * 1024;
constexpr long kMaxRedirects = 15;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
      throw std::runtime_error("libcurl cannot be initialised");
  });
}

// "host:port" of the URL, for error texts; the URL itself when it does not
// parse.
std::string ServerOf(const std::string& url) {
  std::string server = url;
  if (CURLU* u = curl_url()) {
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
      char* host = nullptr;
      char* port = nullptr;
      if (curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
          curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
        server = std::string(host) + ":" + port;
      curl_free(host);
      curl_free(port);
    }
    curl_url_cleanup(u);
  }
  return server;
}

// The first byte of a range text "first-last", or -1 when it has none.
int64_t RangeFirst(const std::string& range) {
  int64_t first = -1;
  auto [end, ec] = std::from_chars(range.data(), range.data() + range.size(), first);
  if (ec != std::errc() || end == range.data() + range.size() || *end != '-') return -1;
  return first;
}

// A header of the last response (after redirects); empty when it has none.
std::string ResponseHeader(CURL* curl, const char* name) {
  curl_header* h = nullptr;
  if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &h) != CURLHE_OK || !h->value) return {};
  return h->value;
}

// The first byte named by "Content-Range: bytes first-last/size", or -1.
int64_t ContentRangeFirst(CURL* curl) {
  curl_header* h = nullptr;
  if (curl_easy_header(curl, "Content-Range", 0, CURLH_HEADER, -1, &h) != CURLHE_OK) return -1;
  std::string value = h->value;
  size_t p = value.find_first_of("0123456789");
  if (p == std::string::npos || value.compare(0, 5, "bytes") != 0) return -1;
  int64_t first = -1;
  std::from_chars(value.data() + p, value.data() + value.size(), first);
  return first;
}

} // namespace

struct THttpClient::Handle {
  Handle() : curl(curl_easy_init()) {
    if (!curl) throw std::runtime_error("libcurl cannot create a handle");
  }
  ~Handle() { curl_easy_cleanup(curl); }
  CURL* curl;
};

// The state of one request, shared with the callbacks.
struct THttpClient::Transfer {
  THttpClient* client = nullptr;
  TStream* target = nullptr; // null for HEAD
  std::string server;
  int64_t targetStart = 0;
  int64_t rangeFirst = -1;
  bool placed = false;
  int64_t received = 0;
  int64_t reported = 0;
  Clock::time_point lastEvent{};
  Clock::time_point lastActivity{};
  curl_off_t lastCount = 0;
  bool timedOut = false;
  std::exception_ptr error;

  void RaiseWork() {
    reported = received;
    lastEvent = Clock::now();
    if (client->onWork_) client->onWork_(*client, received);
  }

  // Where the first body byte goes, decided once the response status is known.
  void Place() {
    placed = true;
    client->bodyOffset_ = 0;
    if (rangeFirst < 0) return;
    long code = 0;
    curl_easy_getinfo(client->handle_->curl, CURLINFO_RESPONSE_CODE, &code);
    int64_t first = code == 206 ? ContentRangeFirst(client->handle_->curl) : 0;
    if (code == 206 && first != rangeFirst)
      throw EHttpError(FormatText(texts::kRangeMismatch, server), static_cast<int>(code));
    if (first == rangeFirst) {
      client->bodyOffset_ = first;
      return;
    }
    // The whole resource came: it starts `rangeFirst` bytes before the place
    // the caller prepared for byte `rangeFirst`.
    if (targetStart < rangeFirst)
      throw EHttpError(FormatText(texts::kRangeMismatch, server), static_cast<int>(code));
    target->SetPosition(targetStart - rangeFirst);
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    size_t n = size * count;
    if (t->client->disconnected_) return 0;
    if (!t->target) return n;
    try {
      if (!t->placed) t->Place();
      t->target->WriteBuffer(data, static_cast<int64_t>(n));
      t->received += static_cast<int64_t>(n);
      auto now = Clock::now();
      t->lastActivity = now;
      if (t->reported == 0 || now - t->lastEvent >= std::chrono::milliseconds(kWorkEventIntervalMs))
        t->RaiseWork();
    } catch (...) {
      t->error = std::current_exception();
      return 0;
    }
    return t->client->disconnected_ ? 0 : n;
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(self);
    if (t->client->disconnected_) return 1;
    auto now = Clock::now();
    if (dlnow + ulnow != t->lastCount) {
      t->lastCount = dlnow + ulnow;
      t->lastActivity = now;
    } else if (t->client->readTimeoutMs_ > 0 &&
               now - t->lastActivity > std::chrono::milliseconds(t->client->readTimeoutMs_)) {
      t->timedOut = true;
      return 1;
    }
    return 0;
  }
};

THttpClient::THttpClient() {
  GlobalInit();
  handle_ = std::make_unique<Handle>();
}

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
  CURL* c = handle_->curl;
  t->client = this;
  t->server = ServerOf(url);
  t->lastActivity = Clock::now();
  disconnected_ = false;
  contentLength_ = -1;
  responseCode_ = 0;
  bodyOffset_ = 0;
  bodyBytes_ = 0;
  etag_.clear();
  lastModified_.clear();

  // Freed once the request is over; curl keeps only the pointer.
  struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
  } headers;
  if (!ifRange_.empty()) {
    headers.list = curl_slist_append(nullptr, ("If-Range: " + ifRange_).c_str());
    if (!headers.list) throw std::runtime_error("libcurl cannot hold a header");
  }

  char errorText[CURL_ERROR_SIZE] = "";
  curl_easy_reset(c);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, followRedirects_ ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  if (connectTimeoutMs_ > 0)
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs_));
  if (totalTimeoutMs_ > 0)
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(totalTimeoutMs_));
  if (!range_.empty()) curl_easy_setopt(c, CURLOPT_RANGE, range_.c_str());
  if (headers.list) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);
  if (!t->target) curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, t);

  inRequest_ = true;
  CURLcode rc = curl_easy_perform(c);

  long code = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  responseCode_ = static_cast<int>(code);
  curl_off_t length = -1;
  if (curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
    contentLength_ = length;
  etag_ = ResponseHeader(c, "ETag");
  lastModified_ = ResponseHeader(c, "Last-Modified");

  // The last bytes are counted also when the request failed, so that the
  // caller's count matches what lies in the target.
  if (t->target && t->received > t->reported && !disconnected_ && !t->error) {
    try {
      t->RaiseWork();
    } catch (...) {
      t->error = std::current_exception();
    }
  }
  inRequest_ = false;
  bodyBytes_ = t->received;

  if (t->error) std::rethrow_exception(t->error);
  if (disconnected_) return;
  if (t->timedOut) throw EHttpError(FormatText(texts::kReadTimedOut, t->server, readTimeoutMs_), 0);
  if (rc == CURLE_HTTP_RETURNED_ERROR || (rc == CURLE_OK && (code < 200 || code > 299)))
    throw EHttpError(FormatText(texts::kStatusError, t->server, static_cast<int>(code)),
                     static_cast<int>(code));
  if (rc != CURLE_OK) {
    std::string reason = Utf8ToAnsi(errorText[0] ? errorText : curl_easy_strerror(rc));
    const bool beforeResponse =
        rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST ||
        rc == CURLE_COULDNT_RESOLVE_PROXY || rc == CURLE_PEER_FAILED_VERIFICATION ||
        rc == CURLE_SSL_CONNECT_ERROR || (rc == CURLE_OPERATION_TIMEDOUT && code == 0);
    throw EHttpError(FormatText(beforeResponse ? texts::kConnectFailed : texts::kTransferFailed,
                                t->server, reason),
                     0);
  }
}

bool CanConnectTo(const std::string& url, int timeoutMs) {
  try {
    GlobalInit();
    CURL* c = curl_easy_init();
    if (!c) return false;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    CURLcode rc = curl_easy_perform(c);
    curl_easy_cleanup(c);
    return rc == CURLE_OK;
  } catch (...) {
    return false;
  }
}

} // namespace platform

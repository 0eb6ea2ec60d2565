#pragma once
// The HTTP/1.1 client of the update checks and the package transfer: HEAD,
// GET into a stream, one byte range, time-outs, redirects, and a work event
// raised on the calling thread while a body arrives. URLs are ANSI bytes and
// are sent as they are (bytes above 0x7F percent-encoded). Proxies come from
// the user's system settings on Windows (WinINet) and from the usual
// environment variables on Linux (libcurl); HTTPS certificates are checked.
#include "Exception.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStream;

namespace platform {

// Any failure of a request: no connection, a time-out, an HTTP error status,
// a connection cut before the body was complete. The text names the server
// (host and port) and what failed.
class EHttpError : public Exception {
public:
  EHttpError(const std::string& message, int status) : Exception(message), status_(status) {}
  // The HTTP status of an error response; 0 when there was none.
  int Status() const { return status_; }

private:
  int status_;
};

class THttpClient {
public:
  // Raised with the bytes of the current request's body received so far. It
  // comes at most once per WorkEventInterval, and once more for the last
  // bytes when the request ends, also when it ends by an error: the bytes it
  // counts are always in the target stream already.
  using TWorkEvent = std::function<void(THttpClient& sender, int64_t workCount)>;

  static constexpr int kWorkEventIntervalMs = 100;

  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  void SetHandleRedirects(bool follow) { followRedirects_ = follow; } // off at first
  // Milliseconds; 0 leaves the library's default (connect) or sets no limit.
  void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
  // The longest wait for the next bytes of a response.
  void SetReadTimeout(int ms) { readTimeoutMs_ = ms; }
  // The longest a whole request may take.
  void SetTotalTimeout(int ms) { totalTimeoutMs_ = ms; }
  // "first-last" of the next requests, sent as "Range: bytes=first-last";
  // empty text sends no range.
  void SetRange(const std::string& firstLast) { range_ = firstLast; }
  // A validator (an ETag or a Last-Modified date, as a response gave it)
  // sent as "If-Range" on the next requests; empty text sends none. A
  // server that honours it answers a range with the whole resource (200)
  // when the resource no longer has that validator.
  void SetIfRange(const std::string& validator) { ifRange_ = validator; }
  void SetOnWork(TWorkEvent onWork) { onWork_ = std::move(onWork); }

  // Raises EHttpError on any failure.
  void Head(const std::string& url);
  // Writes the body into `target` at its position. With a range "first-..."
  // set, that position is where byte `first` of the resource belongs: a
  // server that ignores the range and sends the whole resource (status 200)
  // has it written from `first` bytes before that position instead, and
  // BodyOffset() then reports 0. Raises EHttpError on any failure, except
  // that a request ended by Disconnect() returns normally with what arrived.
  void Get(const std::string& url, TStream& target);

  // Content-Length of the last response; negative when it had none.
  int64_t ContentLength() const { return contentLength_; }
  // Offset in the resource of the first body byte of the last GET: the
  // range's first byte when the server honoured it, else 0.
  int64_t BodyOffset() const { return bodyOffset_; }
  // Status of the last response; 0 before any.
  int ResponseCode() const { return responseCode_; }
  // The ETag and Last-Modified headers of the last response, as sent;
  // empty when it had none.
  const std::string& ETag() const { return etag_; }
  const std::string& LastModified() const { return lastModified_; }
  // Body bytes of the last GET written to the target, also when it failed;
  // 0 for a HEAD.
  int64_t BodyBytes() const { return bodyBytes_; }

  // True while a request runs and has not been disconnected.
  bool Connected() const { return inRequest_ && !disconnected_; }
  // Ends the running request at its next chance; callable from the work event.
  void Disconnect() { disconnected_ = true; }

private:
  struct Transfer;
  void Perform(const std::string& url, Transfer* transfer);

  struct Handle;
  std::unique_ptr<Handle> handle_;
  TWorkEvent onWork_;
  std::string range_;
  std::string ifRange_;
  std::string etag_;
  std::string lastModified_;
  int64_t bodyBytes_ = 0;
  bool followRedirects_ = false;
  int connectTimeoutMs_ = 0;
  int readTimeoutMs_ = 0;
  int totalTimeoutMs_ = 0;
  int64_t contentLength_ = -1;
  int64_t bodyOffset_ = 0;
  int responseCode_ = 0;
  bool inRequest_ = false;
  bool disconnected_ = false;
};

// Whether a connection to the server of `url` (its host and port, through a
// configured proxy where one applies) can be made within `timeoutMs`. Never
// raises. Windows asks InternetCheckConnectionA, which forces a connection
// attempt, and waits for its answer at most `timeoutMs`.
bool CanConnectTo(const std::string& url, int timeoutMs);

} // namespace platform

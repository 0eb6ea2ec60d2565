#include "publish/TreeSource.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/HttpClient.h"
#include "platform/ServerTree.h"
#include "platform/Stream.h"
#include "platform/TextFormat.h"
#include "publish/FileDigest.h"

namespace {

const platform::AnsiText kNoSuchFile{"没有这个文件"};
const platform::AnsiText kNoLength{"服务器没有给出文件大小（Content-Length）"};
const platform::AnsiText kTooLarge{"“%s”超过 %lld 字节"};

constexpr int kConnectTimeoutMs = 10000;
constexpr int kReadTimeoutMs = 30000;

class TLocalSource : public TTreeSource {
public:
  explicit TLocalSource(const std::string& root) : tree_(root) {}
  std::string Describe(const std::string& relative) const override {
    return tree_.DisplayPath(relative);
  }
  std::optional<std::string> ReadSmall(const std::string& relative, int64_t maxSize) override {
    return tree_.ReadSmallFile(relative, maxSize);
  }
  std::optional<int64_t> Size(const std::string& relative, std::string& reason) override {
    const int64_t size = tree_.FileSize(relative);
    if (size < 0) {
      reason = kNoSuchFile;
      return std::nullopt;
    }
    return size;
  }
  void Read(const std::string& relative, TStream& target) override {
    std::unique_ptr<TFileStream> file = tree_.OpenRead(relative);
    ReadThrough(*file, [&](const char* data, size_t size) {
      target.WriteBuffer(data, static_cast<int64_t>(size));
    });
  }

private:
  platform::TServerTree tree_;
};

// A memory stream that refuses to grow past its cap.
class TCappedStream : public TMemoryStream {
public:
  TCappedStream(int64_t cap, std::string name) : cap_(cap), name_(std::move(name)) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (GetPosition() + count > cap_)
      throw EStreamError(platform::FormatText(kTooLarge, name_, static_cast<long long>(cap_)));
    return TMemoryStream::Write(buffer, count);
  }

private:
  int64_t cap_;
  std::string name_;
};

class THttpSource : public TTreeSource {
public:
  explicit THttpSource(std::string base) : base_(std::move(base)) {
    if (!base_.empty() && base_.back() != '/') base_ += '/';
  }
  std::string Describe(const std::string& relative) const override { return base_ + relative; }
  std::optional<std::string> ReadSmall(const std::string& relative, int64_t maxSize) override {
    TCappedStream body(maxSize, Describe(relative));
    platform::THttpClient client;
    Configure(client);
    try {
      client.Get(Describe(relative), body);
    } catch (const platform::EHttpError& e) {
      if (e.Status() == 404 || e.Status() == 410) return std::nullopt;
      throw;
    }
    return std::string(body.Memory(), static_cast<size_t>(body.GetSize()));
  }
  std::optional<int64_t> Size(const std::string& relative, std::string& reason) override {
    platform::THttpClient client;
    Configure(client);
    try {
      client.Head(Describe(relative));
    } catch (const platform::EHttpError& e) {
      reason = e.what();
      return std::nullopt;
    }
    if (client.ContentLength() < 0) {
      reason = kNoLength;
      return std::nullopt;
    }
    return client.ContentLength();
  }
  void Read(const std::string& relative, TStream& target) override {
    platform::THttpClient client;
    Configure(client);
    client.Get(Describe(relative), target);
  }

private:
  static void Configure(platform::THttpClient& client) {
    client.SetConnectTimeout(kConnectTimeoutMs);
    client.SetReadTimeout(kReadTimeoutMs);
    client.SetHandleRedirects(true);
  }

  std::string base_;
};

} // namespace

std::unique_ptr<TTreeSource> LocalTreeSource(const std::string& rootAnsi) {
  return std::make_unique<TLocalSource>(rootAnsi);
}

std::unique_ptr<TTreeSource> HttpTreeSource(const std::string& baseUrl) {
  return std::make_unique<THttpSource>(baseUrl);
}

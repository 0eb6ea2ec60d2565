// THttpClient against our fault server on loopback: each test starts the
// server with one behaviour and stops it by its process id.
#include "platform/HttpClient.h"
#include "platform/Stream.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::EHttpError;
using platform::THttpClient;
using testsupport::FaultServer;
using Clock = std::chrono::steady_clock;

using testsupport::RandomBytes;

std::string Contents(TMemoryStream& s) {
  return std::string(s.Memory(), static_cast<size_t>(s.GetSize()));
}

class HttpClientTest : public ::testing::Test {
protected:
  HttpClientTest() : package_(RandomBytes(300000, 7)) { dir_.Write("package.bin", package_); }
  FaultServer Serve(const std::string& mode, long arg = 0) {
    return FaultServer(dir_.Utf8("package.bin"), dir_.Utf8("server"), mode, arg);
  }

  testsupport::TempFolder dir_;
  std::string package_;
};

TEST_F(HttpClientTest, HeadReportsTheLengthOrNoneAtAll) {
  FaultServer normal = Serve("normal");
  THttpClient client;
  client.Head(normal.BaseUrl() + "a/b.exe");
  EXPECT_EQ(client.ContentLength(), 300000);
  EXPECT_EQ(client.ResponseCode(), 200);

  FaultServer noLength = Serve("no-length");
  client.Head(noLength.BaseUrl() + "a/b.exe");
  EXPECT_LT(client.ContentLength(), 0);
}

TEST_F(HttpClientTest, RangeIsSentAndTheBodyLandsAtTheStreamPosition) {
  FaultServer server = Serve("normal");
  THttpClient client;
  TMemoryStream target;
  target.WriteBuffer(package_.data(), 1000);
  client.SetRange("1000-300000");
  client.Get(server.BaseUrl() + "x.exe", target);
  EXPECT_EQ(Contents(target), package_);
  EXPECT_EQ(client.BodyOffset(), 1000);
  EXPECT_EQ(client.ResponseCode(), 206);
  EXPECT_NE(server.Requests().find("GET /x.exe range=bytes=1000-300000"), std::string::npos);
}

TEST_F(HttpClientTest, WholeAnswerToARangeIsWrittenFromWhereTheResourceStarts) {
  FaultServer server = Serve("ignore-range");
  THttpClient client;
  TMemoryStream target;
  target.WriteBuffer("prefix:", 7);
  target.WriteBuffer(std::string(5000, 'x').data(), 5000);
  client.SetRange("5000-300000");
  client.Get(server.BaseUrl() + "x.exe", target);
  EXPECT_EQ(client.BodyOffset(), 0);
  EXPECT_EQ(Contents(target), "prefix:" + package_);
}

TEST_F(HttpClientTest, ResponsesTellTheirValidatorsAndTheBodyBytesWritten) {
  const struct {
    const char* validators;
    bool etag, lastModified;
  } cases[] = {{"both", true, true},
               {"etag", true, false},
               {"last-modified", false, true},
               {"none", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.validators);
    FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8(std::string("server-") + c.validators),
                       "normal", 0, {"--validators", c.validators});
    THttpClient client;
    client.Head(server.BaseUrl() + "x.exe");
    EXPECT_EQ(client.ETag().size() == 18 && client.ETag().front() == '"', c.etag) << client.ETag();
    EXPECT_EQ(client.LastModified().find(" GMT") != std::string::npos, c.lastModified)
        << client.LastModified();
    EXPECT_EQ(client.BodyBytes(), 0);
    const std::string etag = client.ETag();
    TMemoryStream target;
    client.Get(server.BaseUrl() + "x.exe", target);
    EXPECT_EQ(client.ETag(), etag);
    EXPECT_EQ(client.BodyBytes(), 300000);
  }
  // Another version of the file has validators of its own.
  FaultServer server = Serve("normal");
  THttpClient client;
  client.Head(server.BaseUrl() + "x.exe");
  const std::string etag = client.ETag(), lastModified = client.LastModified();
  dir_.Write("package.bin", package_.substr(1) + "x");
  client.Head(server.BaseUrl() + "x.exe");
  EXPECT_NE(client.ETag(), etag);
  EXPECT_NE(client.LastModified(), lastModified);
}

TEST_F(HttpClientTest, IfRangeGetsTheRangeOnlyWhileTheResourceIsUnchanged) {
  FaultServer server = Serve("normal");
  THttpClient client;
  client.Head(server.BaseUrl() + "x.exe");
  const std::string etag = client.ETag(), lastModified = client.LastModified();
  const struct {
    const char* what;
    std::string validator;
    int status;
  } cases[] = {{"the ETag", etag, 206},
               {"the date", lastModified, 206},
               {"another version's ETag", "\"0000000000000000\"", 200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMemoryStream target;
    target.WriteBuffer(std::string(1000, 'x').data(), 1000);
    client.SetRange("1000-300000");
    client.SetIfRange(c.validator);
    client.Get(server.BaseUrl() + "x.exe", target);
    EXPECT_EQ(client.ResponseCode(), c.status);
    // The whole resource is placed where its first byte belongs.
    EXPECT_EQ(client.BodyOffset(), c.status == 206 ? 1000 : 0);
    EXPECT_EQ(Contents(target).substr(c.status == 206 ? 1000 : 0),
              c.status == 206 ? package_.substr(1000) : package_);
    EXPECT_NE(server.Requests().find("range=bytes=1000-300000 if-range=" + c.validator + "\n"),
              std::string::npos)
        << server.Requests();
  }
  // Without a validator nothing is sent.
  client.SetIfRange("");
  client.Head(server.BaseUrl() + "y.exe");
  EXPECT_NE(server.Requests().find("HEAD /y.exe range=bytes=1000-300000\n"), std::string::npos);
}

TEST_F(HttpClientTest, FailuresNameTheServerAndTheStatus) {
  FaultServer missing = Serve("status", 404);
  THttpClient client;
  TMemoryStream target;
  const std::string server = missing.BaseUrl().substr(7, missing.BaseUrl().size() - 8);
  try {
    client.Get(missing.BaseUrl() + "x.exe", target);
    FAIL() << "no error";
  } catch (const EHttpError& e) {
    EXPECT_EQ(e.Status(), 404);
    EXPECT_NE(std::string(e.what()).find(server), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("404"), std::string::npos) << e.what();
  }
  EXPECT_EQ(target.GetSize(), 0);

  try {
    client.Head("http://127.0.0.1:1/x.exe");
    FAIL() << "no error";
  } catch (const EHttpError& e) {
    EXPECT_EQ(e.Status(), 0);
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:1"), std::string::npos) << e.what();
  }
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenAsked) {
  FaultServer server = Serve("redirect");
  THttpClient client;
  TMemoryStream target;
  EXPECT_THROW(client.Get(server.BaseUrl() + "x.exe", target), EHttpError);
  EXPECT_EQ(target.GetSize(), 0);

  client.SetHandleRedirects(true);
  client.Get(server.BaseUrl() + "x.exe", target);
  EXPECT_EQ(Contents(target), package_);
  EXPECT_NE(server.Requests().find("GET /real/x.exe"), std::string::npos);
}

TEST_F(HttpClientTest, CutConnectionRaisesAfterCountingEveryWrittenByte) {
  FaultServer server = Serve("cut", 123456);
  THttpClient client;
  TMemoryStream target;
  int64_t lastCount = -1;
  client.SetOnWork([&](THttpClient& sender, int64_t count) {
    EXPECT_TRUE(sender.Connected());
    EXPECT_EQ(count, target.GetSize()); // the counted bytes are in the stream
    lastCount = count;
  });
  EXPECT_THROW(client.Get(server.BaseUrl() + "x.exe", target), EHttpError);
  EXPECT_EQ(target.GetSize(), 123456);
  EXPECT_EQ(lastCount, 123456);
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, WorkEventsComeAtMostEveryIntervalPlusTheLast) {
  // 300 pieces of 1 KiB, 5 ms apart: about 1.5 s of small blocks.
  FaultServer server = Serve("slow", 5);
  THttpClient client;
  TMemoryStream target;
  std::vector<Clock::time_point> times;
  std::vector<int64_t> counts;
  client.SetOnWork([&](THttpClient&, int64_t count) {
    times.push_back(Clock::now());
    counts.push_back(count);
  });
  client.Get(server.BaseUrl() + "x.exe", target);
  ASSERT_GE(times.size(), 2u);
  EXPECT_EQ(counts.back(), 300000);
  for (size_t i = 1; i + 1 < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 1],
              std::chrono::milliseconds(THttpClient::kWorkEventIntervalMs));
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
}

TEST_F(HttpClientTest, DisconnectFromTheWorkEventEndsTheRequestQuietly) {
  FaultServer server = Serve("slow", 5);
  THttpClient client;
  TMemoryStream target;
  int events = 0;
  client.SetOnWork([&](THttpClient& sender, int64_t) {
    ++events;
    sender.Disconnect();
    EXPECT_FALSE(sender.Connected());
  });
  client.Get(server.BaseUrl() + "x.exe", target);
  EXPECT_EQ(events, 1);
  EXPECT_LT(target.GetSize(), 300000);
}

TEST_F(HttpClientTest, SilentServerEndsInAReadTimeout) {
  FaultServer server = Serve("silent");
  THttpClient client;
  client.SetReadTimeout(1500);
  TMemoryStream target;
  auto start = Clock::now();
  EXPECT_THROW(client.Get(server.BaseUrl() + "x.exe", target), EHttpError);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
}

TEST_F(HttpClientTest, CertificatesAreChecked) {
  // A self-signed certificate is trusted by nobody.
  const std::string work = dir_.Utf8("tls");
  std::filesystem::create_directories(work);
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                           "-keyout '" +
                           work + "/server.key' -out '" + work + "/server.crt' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  dir_.Write("www/x.exe", package_);
  testsupport::NginxServer server(dir_.Utf8("www"), work, "", true);
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x.exe";
  THttpClient client;
  TMemoryStream target;
  try {
    client.Get(url, target);
    FAIL() << "a self-signed certificate was accepted";
  } catch (const EHttpError& e) {
    EXPECT_NE(std::string(e.what()).find("certificate"), std::string::npos) << e.what();
  }
  EXPECT_EQ(target.GetSize(), 0);
}

TEST_F(HttpClientTest, ProxyComesFromTheEnvironment) {
  FaultServer proxy = Serve("normal");
  testsupport::ScopedEnv http("http_proxy", proxy.BaseUrl().c_str());
  testsupport::ScopedEnv none("no_proxy", nullptr);
  THttpClient client;
  TMemoryStream target;
  client.Get("http://updates.invalid/a/x.exe", target);
  EXPECT_EQ(Contents(target), package_);
  EXPECT_NE(proxy.Requests().find("GET http://updates.invalid/a/x.exe"), std::string::npos)
      << proxy.Requests();
  EXPECT_TRUE(platform::CanConnectTo("http://updates.invalid/a/Version.xml", 2000));
}

TEST_F(HttpClientTest, ReachabilityAnswersForTheUrlsServer) {
  FaultServer server = Serve("silent");
  EXPECT_TRUE(platform::CanConnectTo(server.BaseUrl() + "any/Version.xml", 2000));
  EXPECT_FALSE(platform::CanConnectTo("http://127.0.0.1:1/Version.xml", 2000));
  EXPECT_FALSE(platform::CanConnectTo("not a url", 2000));
}

TEST_F(HttpClientTest, ReachabilityGivesUpAtItsLimitWhenTheConnectionIsNeverAnswered) {
  testsupport::UnansweredListener listener;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::CanConnectTo(listener.BaseUrl() + "Version.xml", 500));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(450)) << "the attempt did not wait for an answer";
  EXPECT_LT(took, std::chrono::milliseconds(2000));
}

} // namespace

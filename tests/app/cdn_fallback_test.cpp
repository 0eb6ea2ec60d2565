// The fall-back from the CDN to the origin that it mirrors: which failures
// of the CDN send a package request to the origin, how the bytes a CDN left
// are continued there, what the log says, and [HTTP] CDNFallback=0.
#include "app/UpdateForm.h"
#include "platform/HttpClient.h"
#include "tests/app/download_record_fixture.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using recordtest::kInstallerPath;
using testsupport::FaultServer;

constexpr int kPackageSize = 300000;

using testsupport::RandomBytes;

class CdnFallbackTest : public ::testing::Test {
protected:
  CdnFallbackTest()
      : package_(RandomBytes(kPackageSize, 21)), tmpDir_("TMPDIR", dir_.Utf8("tmp").c_str()) {
    dir_.MakeFolder("tmp");
    dir_.Write("package.bin", package_);
  }

  // `httpLines` go into the [HTTP] section.
  void Configure(const std::string& cdn, const std::string& origin, const char* httpLines = "") {
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + cdn +
                                         "\r\nURLWithnotCDN=" + origin + "\r\nDoneSize=0\r\n" +
                                         httpLines);
  }
  std::unique_ptr<TUpdateForm> Form() {
    auto form = std::make_unique<TUpdateForm>(std::vector<std::string>{"-ZB"}, dir_.Ansi("exe/"));
    form->packagePath = "V7";
    form->limits.transferMs = 1500;
    return form;
  }
  std::string Local() const { return dir_.Read("tmp/MQTUpdate/招标工具.exe"); }
  std::string Log() const { return dir_.Read("exe/update.log"); }

  testsupport::TempFolder dir_;
  std::string package_;
  testsupport::ScopedEnv tmpDir_;
};

TEST_F(CdnFallbackTest, CdnThatFailsBeforeTheFirstByteIsReplacedByTheOriginOnce) {
  // A port that refuses: a server started and stopped again.
  std::string refusing;
  {
    FaultServer gone(dir_.Utf8("package.bin"), dir_.Utf8("gone"), "normal");
    refusing = gone.BaseUrl();
  }
  struct Case {
    const char* what;
    const char* mode; // of the CDN; nullptr: nothing listens
    long arg;
    const char* config;
    bool fallsBack;
  } cases[] = {
      {"CDN refusing", nullptr, 0, "", true},
      {"CDN 404", "status", 404, "", true},
      {"CDN 503", "status", 503, "", true},
      {"CDN silent before the first byte", "silent", 0, "", true},
      {"CDN 403: the origin would refuse as well", "status", 403, "", false},
      {"fall-back switched off", "status", 503, "CDNFallback=0\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    std::filesystem::remove(dir_.Utf8("exe/update.log"));
    FaultServer origin(dir_.Utf8("package.bin"), dir_.Utf8("origin"), "normal");
    std::unique_ptr<FaultServer> cdn;
    if (c.mode)
      cdn =
          std::make_unique<FaultServer>(dir_.Utf8("package.bin"), dir_.Utf8("cdn"), c.mode, c.arg);
    const std::string cdnBase = cdn ? cdn->BaseUrl() : refusing;
    Configure(cdnBase, origin.BaseUrl(), c.config);

    const std::string fallback =
        "fallback from=" + cdnBase + kInstallerPath + " to=" + origin.BaseUrl() + kInstallerPath;
    if (c.fallsBack) {
      EXPECT_TRUE(Form()->DownloadPackage(nullptr));
      EXPECT_TRUE(Local() == package_);
      EXPECT_NE(origin.Requests().find(std::string("GET /") + kInstallerPath), std::string::npos);
      EXPECT_NE(Log().find(fallback), std::string::npos) << Log();
    } else {
      EXPECT_THROW(Form()->DownloadPackage(nullptr), platform::EHttpError);
      EXPECT_EQ(origin.Requests(), "");
      EXPECT_EQ(Log().find("fallback"), std::string::npos) << Log();
    }
  }
}

// A CDN that cuts the transfer in the middle ends the run (the next one
// resumes); when the next run finds the CDN gone, the origin continues the
// bytes if it describes the same file (length and validator), and starts
// afresh if not.
TEST_F(CdnFallbackTest, BytesFromTheCdnAreContinuedOnTheOriginOnlyWhenItsRecordMatches) {
  const std::string stale = RandomBytes(kPackageSize, 22);
  struct Case {
    const char* what;
    std::vector<std::string> originOptions;
    const char* range; // of the origin's GET
  } cases[] = {
      {"same ETag", {}, "range=bytes=83456-300000 if-range=\""},
      {"the origin has only Last-Modified",
       {"--validators", "last-modified"},
       "range=bytes=0-300000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    FaultServer origin(dir_.Utf8("package.bin"), dir_.Utf8("origin"), "normal", 0, c.originOptions);
    auto cdn =
        std::make_unique<FaultServer>(dir_.Utf8("package.bin"), dir_.Utf8("cdn"), "cut", 123456);
    Configure(cdn->BaseUrl(), origin.BaseUrl());
    EXPECT_THROW(Form()->DownloadPackage(nullptr), platform::EHttpError);
    EXPECT_EQ(origin.Requests(), "") << "a cut in the middle is no reason to leave the CDN";
    EXPECT_EQ(Local(), package_.substr(0, 123456));

    // Whatever the bytes are, only the record vouches for them.
    dir_.Write("tmp/MQTUpdate/招标工具.exe", stale.substr(0, 123456));
    cdn->Stop();
    const bool resumes = c.originOptions.empty();
    EXPECT_TRUE(Form()->DownloadPackage(nullptr));
    EXPECT_TRUE(Local() == (resumes ? stale.substr(0, 83456) + package_.substr(83456) : package_));
    EXPECT_NE(origin.Requests().find(c.range), std::string::npos) << origin.Requests();
  }
}

} // namespace

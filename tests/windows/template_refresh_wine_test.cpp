// The sample-text refresh end to end on Windows: the Windows program, run by
// wine64 without a display, against nginx on loopback; the resume of a
// template whose first download was cut off, through WinINet's validators
// and If-Range, also when the file changed on the server; and the fall-back
// to the origin when the CDN is down.
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/windows/WineSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

std::string Template(int version, size_t size) {
  return ziptest::BuildZip({{"content.xml", std::string(size, static_cast<char>('a' + version))}},
                           "[Region]\r\nVersion=" + std::to_string(version) + "\r\n")
      .bytes;
}

using winetest::WorkingFolder;

class TemplateRefreshUnderWine : public ::testing::Test {
protected:
  TemplateRefreshUnderWine() {
    std::filesystem::remove_all(WorkingFolder());
    dir_.MakeFolder("exe");
    std::filesystem::copy_file(UPDATER_WINDOWS_PROGRAM, dir_.Utf8("exe/update.exe"));
    dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    nginx_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    dir_.Write("exe/VersionCfg.ini",
               "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + nginx_->BaseUrl() +
                   "cdn/\r\nURLWithnotCDN=" + nginx_->BaseUrl() + "plain/\r\nDoneSize=0\r\n");
  }
  ~TemplateRefreshUnderWine() override { std::filesystem::remove_all(WorkingFolder()); }

  // Puts version `version` of the template on the server, in folder
  // T<version> unless `folder` names another.
  void Publish(int version, const std::string& templ, std::string folder = {}) {
    const std::string kind = Utf8ToAnsi("招标示范文本");
    if (folder.empty()) folder = "T" + std::to_string(version);
    dir_.Write("www/plain/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"施工招标\" Version=\"" +
                   std::to_string(version) + "\" VersionPath=\"" + folder + "\"/>\n</Templates>\n");
    dir_.Write("www/cdn/" + kind + "/" + folder + "/" + Utf8ToAnsi("施工招标") + ".sfwb", templ);
  }
  void Install(const std::string& templ) { dir_.Write("exe/招标示范文本/施工招标.sfwb", templ); }
  std::string Installed() const { return dir_.Read("exe/招标示范文本/施工招标.sfwb"); }
  std::string Config(const char* key) const {
    return platform::ReadProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", key, "");
  }
  void SetTemplateServer(const std::string& baseUrl) {
    ASSERT_TRUE(platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "URLUseCDN",
                                             baseUrl));
  }

  // Runs `update.exe -ZB 施工招标` under Wine with a Chinese system code
  // page and no display; returns its exit code.
  int Run() {
    auto update =
        winetest::StartWine({dir_.Utf8("exe/update.exe"), "-ZB", "施工招标"}, std::nullopt,
                            dir_.Utf8("update-" + std::to_string(++runs_) + ".log"));
    const auto code = update->WaitFor(std::chrono::seconds(120));
    EXPECT_TRUE(code.has_value()) << "the updater did not end";
    lastLog_ = dir_.Read("update-" + std::to_string(runs_) + ".log");
    return code.value_or(-1);
  }
  std::string Downloaded() const {
    std::ifstream in(WorkingFolder() + "/施工招标.sfwb", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool DownloadLeft() const {
    return std::filesystem::exists(WorkingFolder() + "/施工招标.sfwb") ||
           std::filesystem::exists(WorkingFolder() + "/施工招标.sfwb.resume");
  }
  // The run log beside the program.
  std::string RunLog() const { return dir_.Read("exe/update.log"); }

  testsupport::TempFolder dir_;
  std::unique_ptr<testsupport::NginxServer> nginx_;
  int runs_ = 0;
  std::string lastLog_; // what the last run printed
};

TEST_F(TemplateRefreshUnderWine, NewerTemplateReplacesTheInstalledOneByteForByte) {
  const std::string newer = Template(6, 200000);
  Publish(6, newer);
  Install(Template(2, 100));
  EXPECT_EQ(Run(), 0) << lastLog_;
  EXPECT_TRUE(Installed() == newer);
  // Nothing of a finished refresh is left to resume.
  EXPECT_FALSE(DownloadLeft());
  EXPECT_EQ(Config("DoneSize"), "0");
  // WinINet reported the validators of nginx's HEAD.
  EXPECT_NE(RunLog().find(" status=200 length=" + std::to_string(newer.size()) + " etag=\""),
            std::string::npos)
      << RunLog();

  // Up to date now: nothing is fetched and nothing changes.
  EXPECT_EQ(Run(), 0) << lastLog_;
  EXPECT_TRUE(Installed() == newer);
  const std::string log = testsupport::ReadFile(dir_.Utf8("nginx/access.log"));
  size_t templateRequests = 0;
  for (size_t at = log.find(".sfwb"); at != std::string::npos; at = log.find(".sfwb", at + 1))
    ++templateRequests;
  EXPECT_EQ(templateRequests, 2u) << "one HEAD and one GET, both in the first run\n" << log;
}

// The first download is cut off by the fault server; the second run meets
// the same server (the same URL) with the template as it was, replaced by
// another version, or replaced between the HEAD and the GET.
TEST_F(TemplateRefreshUnderWine, CutDownloadResumesOnlyOnItsOwnBytes) {
  const std::string v7 = Template(7, 600000);
  const std::string v8 = Template(8, 600000);
  ASSERT_EQ(v7.size(), v8.size());
  const std::string installed = Template(3, 100);
  struct Case {
    const char* what;
    bool getFile;       // the GETs read served.sfwb
    const char* second; // what the server holds for the second run
    const std::string& expected;
    const char* evidence; // the server's log of the second GET
  } cases[] = {
      {"unchanged: resumed with If-Range", false, "v7", v7, " if-range=\""},
      {"replaced between the runs: started afresh", false, "v8", v8, " range=bytes=0-"},
      {"replaced after the HEAD: the whole file comes instead", true, "v8", v8, " if-range=\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Install(installed);
    std::filesystem::remove_all(WorkingFolder());
    ASSERT_TRUE(
        platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize", "0"));
    Publish(7, v7);
    dir_.Write("cut.sfwb", v7);
    dir_.Write("served.sfwb", v7);
    std::vector<std::string> options;
    if (c.getFile) options = {"--get-file", dir_.Utf8("served.sfwb")};
    testsupport::FaultServer cut(dir_.Utf8("cut.sfwb"), dir_.Utf8("fault"), "cut", 250000, options);
    SetTemplateServer(cut.BaseUrl());
    // The cut-off download is an error: the run ends without installing.
    EXPECT_EQ(Run(), 1) << lastLog_;
    EXPECT_TRUE(Installed() == installed);
    const long long done = std::atoll(Config("DoneSize").c_str());
    EXPECT_GE(done, 200000);
    EXPECT_LE(done, 250000);
    EXPECT_TRUE(Downloaded().substr(0, static_cast<size_t>(done)) ==
                v7.substr(0, static_cast<size_t>(done)))
        << lastLog_;

    if (std::string(c.second) == "v8") {
      // Republished under the same folder, as a publisher should not.
      Publish(8, v8, "T7");
      dir_.Write(c.getFile ? "served.sfwb" : "cut.sfwb", v8);
    }
    const size_t before = cut.Requests().size();
    EXPECT_EQ(Run(), 0) << lastLog_;
    EXPECT_TRUE(Installed() == c.expected);
    const std::string requests = cut.Requests().substr(before);
    const size_t get = requests.find("GET ");
    ASSERT_NE(get, std::string::npos) << requests;
    EXPECT_NE(requests.find(c.evidence, get), std::string::npos) << requests;
  }
}

// The CDN refuses connections: the template comes from the origin, and the
// log says so.
TEST_F(TemplateRefreshUnderWine, CdnDownFallsBackToTheOrigin) {
  const std::string newer = Template(6, 200000);
  Publish(6, newer);
  dir_.Write("www/plain/" + Utf8ToAnsi("招标示范文本") + "/T6/" + Utf8ToAnsi("施工招标") + ".sfwb",
             newer);
  Install(Template(2, 100));
  std::string refusing;
  {
    testsupport::FaultServer gone(dir_.Utf8("cut.sfwb"), dir_.Utf8("gone"), "normal");
    refusing = gone.BaseUrl();
  }
  SetTemplateServer(refusing);
  EXPECT_EQ(Run(), 0) << lastLog_;
  EXPECT_TRUE(Installed() == newer);
  const std::string log = RunLog();
  EXPECT_NE(log.find("fallback from=" + refusing), std::string::npos) << log;
  EXPECT_NE(log.find(" to=" + nginx_->BaseUrl() + "plain/"), std::string::npos) << log;
  EXPECT_NE(log.find("end status=0"), std::string::npos) << log;
}

} // namespace

// The sample-text refresh end to end on Windows: the Windows program, run by
// wine64 without a display, against nginx on loopback, and the resume of a
// template whose first download was cut off.
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

const char* const kWine = "/usr/lib/wine/wine64";

std::string Template(int version, size_t size) {
  return ziptest::BuildZip({{"content.xml", std::string(size, static_cast<char>('a' + version))}},
                           "[Region]\r\nVersion=" + std::to_string(version) + "\r\n")
      .bytes;
}

// The Wine prefix of this run and, in it, the folder that GetTempPathA
// gives: Wine takes it from the prefix, not from the environment.
std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
    return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string WorkingFolder() {
  const passwd* user = ::getpwuid(::getuid());
  return WinePrefix() + "/drive_c/users/" + (user != nullptr ? user->pw_name : "root") +
         "/Temp/MQTUpdate";
}

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

  // Puts version `version` of the template on the server.
  void Publish(int version, const std::string& templ) {
    const std::string kind = Utf8ToAnsi("招标示范文本");
    const std::string folder = "T" + std::to_string(version);
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
    ChildProcess update({kWine, dir_.Utf8("exe/update.exe"), "-ZB", "施工招标"},
                        {{"DISPLAY", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt},
                         {"LC_ALL", "zh_CN.UTF-8"},
                         {"WINEDEBUG", "-all"},
                         {"WINEPREFIX", WinePrefix()}},
                        dir_.Utf8("update-" + std::to_string(++runs_) + ".log"));
    const auto code = update.WaitFor(std::chrono::seconds(120));
    EXPECT_TRUE(code.has_value()) << "the updater did not end";
    lastLog_ = dir_.Read("update-" + std::to_string(runs_) + ".log");
    return code.value_or(-1);
  }
  std::string Downloaded() const {
    std::ifstream in(WorkingFolder() + "/施工招标.sfwb", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

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
  EXPECT_TRUE(Downloaded() == newer);
  EXPECT_EQ(Config("DoneSize"), std::to_string(newer.size()));

  // Up to date now: nothing is fetched and nothing changes.
  EXPECT_EQ(Run(), 0) << lastLog_;
  EXPECT_TRUE(Installed() == newer);
  const std::string log = testsupport::ReadFile(dir_.Utf8("nginx/access.log"));
  size_t templateRequests = 0;
  for (size_t at = log.find(".sfwb"); at != std::string::npos; at = log.find(".sfwb", at + 1))
    ++templateRequests;
  EXPECT_EQ(templateRequests, 2u) << "one HEAD and one GET, both in the first run\n" << log;
}

TEST_F(TemplateRefreshUnderWine, CutDownloadResumesWithARangeAndEndsByteForByte) {
  const std::string newer = Template(7, 600000);
  Publish(7, newer);
  const std::string installed = Template(3, 100);
  dir_.Write("cut.sfwb", newer);

  struct Server {
    const char* mode;
    const char* logEvidence; // what the server saw of the second request
  };
  for (const Server second : {Server{"nginx", "\" 206 "}, Server{"ignore-range", "range=bytes="}}) {
    SCOPED_TRACE(second.mode);
    Install(installed);
    std::filesystem::remove_all(WorkingFolder());
    ASSERT_TRUE(
        platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize", "0"));
    {
      testsupport::FaultServer cut(dir_.Utf8("cut.sfwb"), dir_.Utf8("fault"), "cut", 250000);
      SetTemplateServer(cut.BaseUrl());
      // The cut-off download is an error, which needs the window: the run
      // ends without installing anything.
      EXPECT_NE(Run(), 0) << lastLog_;
      EXPECT_EQ(cut.Requests().find("GET"), cut.Requests().rfind("GET")) << cut.Requests();
    }
    EXPECT_TRUE(Installed() == installed);
    const long long done = std::atoll(Config("DoneSize").c_str());
    EXPECT_GE(done, 200000);
    EXPECT_LE(done, 250000);
    EXPECT_TRUE(Downloaded().substr(0, static_cast<size_t>(done)) ==
                newer.substr(0, static_cast<size_t>(done)))
        << lastLog_;

    std::unique_ptr<testsupport::FaultServer> ignoring;
    if (std::string(second.mode) == "nginx") {
      SetTemplateServer(nginx_->BaseUrl() + "cdn/");
    } else {
      ignoring = std::make_unique<testsupport::FaultServer>(dir_.Utf8("cut.sfwb"),
                                                            dir_.Utf8("fault"), second.mode);
      SetTemplateServer(ignoring->BaseUrl());
    }
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Installed(), newer);
    const std::string log =
        ignoring ? ignoring->Requests() : testsupport::ReadFile(dir_.Utf8("nginx/access.log"));
    EXPECT_NE(log.find(second.logEvidence), std::string::npos) << log;
  }
}

} // namespace

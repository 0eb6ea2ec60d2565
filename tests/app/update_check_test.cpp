// The program-update check and the template check against nginx on
// loopback, serving the GBK-named folders of a real update server.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::NginxServer;

std::string Gbk(const std::string& utf8) {
  return Utf8ToAnsi(utf8);
}

class CheckTest : public ::testing::Test {
protected:
  CheckTest() : tmpDir_("TMPDIR", dir_.Utf8("tmp").c_str()) {
    dir_.MakeFolder("tmp");
    dir_.MakeFolder("www");
    server_ = std::make_unique<NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    WriteConfig(server_->BaseUrl());
  }

  void WriteConfig(const std::string& base, const std::string& extra = "") {
    dir_.Write("exe/VersionCfg.ini",
               Gbk("[Version]\r\nCurVersion=5\r\n" + extra + "[HTTP]\r\nURLUseCDN=" + base +
                   "\r\nURLWithnotCDN=" + base + "\r\nDoneSize=0\r\n"));
  }
  // A file of the server's tree; the folder names are stored in GBK, as the
  // server decodes them from the URL.
  void Publish(const std::string& utf8Path, const std::string& bytes) {
    dir_.Write("www/" + Gbk(utf8Path), bytes);
  }
  std::unique_ptr<TUpdateForm> Form(std::vector<std::string> args) {
    auto form = std::make_unique<TUpdateForm>(std::move(args), dir_.Ansi("exe/"));
    form->limits.reachMs = form->limits.checkConnectMs = 2000;
    return form;
  }
  std::string Config() const { return dir_.Read("exe/VersionCfg.ini"); }

  testsupport::TempFolder dir_;
  testsupport::ScopedEnv tmpDir_;
  std::unique_ptr<NginxServer> server_;
};

const char* const kEntries = R"(<Version Name="" Version="7" VersionPath="V7" MustUpdate="0">
    <Detail 明细="1. 新增电子标书一键导出。"/>
    <Detail 明细="2. 修正了 &lt;大文件&gt; 保存变慢的问题。"/>
  </Version>)";

std::string Manifest(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Versions>\n  " + entries + "\n</Versions>\n";
}

TEST_F(CheckTest, ProductManifestDecidesTheResultAndFillsTheOffer) {
  struct Case {
    const char* what;
    std::string manifest;
    std::string region;
    std::string configExtra;
    TCheckResult result;
    int32_t latest;
    std::string path;
    int32_t must;
    std::vector<std::string> notes; // after the heading
  } cases[] = {
      {"update available",
       Manifest(kEntries),
       "",
       "",
       TCheckResult::UpdateAvailable,
       7,
       "V7",
       0,
       {"1. 新增电子标书一键导出。", "2. 修正了 <大文件> 保存变慢的问题。"}},
      {"byte-order mark and comments",
       "\xEF\xBB\xBF" + Manifest("<!-- 说明 -->" + std::string(kEntries) + "<!-- -->"),
       "",
       "",
       TCheckResult::UpdateAvailable,
       7,
       "V7",
       0,
       {"1. 新增电子标书一键导出。", "2. 修正了 <大文件> 保存变慢的问题。"}},
      {"equal versions",
       Manifest(R"(<V Name="" Version="5" VersionPath="V5"/>)"),
       "",
       "",
       TCheckResult::UpToDate,
       5,
       "V5",
       0,
       {}},
      {"older on the server",
       Manifest(R"(<V Name="" Version="4" VersionPath="V4"/>)"),
       "",
       "",
       TCheckResult::UpToDate,
       4,
       "V4",
       0,
       {}},
      {"no entry for the region",
       Manifest(kEntries),
       "北京",
       "",
       TCheckResult::UpToDate,
       0,
       "",
       0,
       {}},
      {"two entries of one name, letter case ignored",
       Manifest(R"(<V Name="sh" Version="6" VersionPath="A" MustUpdate="0"><D 明细="a"/></V>
                   <V Name="x" Version="9" VersionPath="X"/>
                   <V Name="SH" Version="7" VersionPath="B" MustUpdate="1"><D 明细="b"/><D/></V>)"),
       "Sh",
       "",
       TCheckResult::UpdateAvailable,
       7,
       "B",
       1,
       {"a", "b", ""}},
      {"the region's own installed version",
       Manifest(R"(<V Name="上海" Version="7" VersionPath="V7"/>)"),
       "上海",
       "[上海]\r\nCurVersion=8\r\n",
       TCheckResult::UpToDate,
       7,
       "V7",
       0,
       {}},
      {"version that is no number",
       Manifest(R"(<V Name="" Version="7a" VersionPath="V7" MustUpdate="x"/>)"),
       "",
       "",
       TCheckResult::UpToDate,
       0,
       "V7",
       0,
       {}},
      {"cut-off manifest",
       "<Versions><V Name=\"\" Version=\"9\" VersionPath=\"V9\"/><V",
       "",
       "",
       TCheckResult::CheckFailed,
       0,
       "",
       0,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteConfig(server_->BaseUrl(), c.configExtra);
    Publish("招标工具/Version.xml", c.manifest);
    auto form = Form({"-ZB"});
    form->regionName = Gbk(c.region);
    EXPECT_EQ(form->CheckProductUpdate(), c.result);
    EXPECT_EQ(form->latestVersion, c.latest);
    EXPECT_EQ(form->packagePath, c.path);
    EXPECT_EQ(form->mustUpdate, c.must);
    if (c.result == TCheckResult::CheckFailed) continue;
    EXPECT_EQ(dir_.Read("tmp/MQTUpdate/Version.xml"), c.manifest);
    std::vector<std::string> notes{Gbk(c.region + "升级内容：")};
    for (const std::string& line : c.notes)
      notes.push_back(Gbk(line));
    EXPECT_EQ(form->controls[ControlId::mmo1].lines, notes);
    if (c.result == TCheckResult::UpdateAvailable) {
      EXPECT_EQ(form->controls[ControlId::lblPrompt1].caption,
                Gbk("检测到新版本V" + std::to_string(c.latest) + "，是否下载更新？"));
    }
  }
}

TEST_F(CheckTest, PackageChecksComeFromTheEntryWhoseValuesStand) {
  // Program mode: the last matching entry's, so one without them clears them.
  Publish("招标工具/Version.xml",
          Manifest(R"(<V Name="" Version="6" VersionPath="A" SHA256="aa" Signature="s1"/>
                      <V Name="" Version="7" VersionPath="B"/>)"));
  auto form = Form({"-ZB"});
  EXPECT_EQ(form->CheckProductUpdate(), TCheckResult::UpdateAvailable);
  EXPECT_EQ(form->packageSha256, std::nullopt);
  EXPECT_EQ(form->packageSignature, std::nullopt);
  // Template mode: the first matching entry's; an empty attribute is there.
  Publish("招标示范文本/Version.xml",
          Manifest(R"(<T Name="施工招标" Version="3" VersionPath="T3" SHA256="" Signature="s1"/>
                      <T Name="施工招标" Version="4" VersionPath="T4" SHA256="bb"/>)"));
  auto templ = Form({"-ZB", Gbk("施工招标")});
  EXPECT_EQ(templ->CheckTemplateUpdate(), TCheckResult::UpdateAvailable);
  EXPECT_EQ(templ->packageSha256, std::optional<std::string>(""));
  EXPECT_EQ(templ->packageSignature, std::optional<std::string>("s1"));
}

TEST_F(CheckTest, UnreachableOrMissingServerFailsTheCheck) {
  auto form = Form({"-ZB"});
  EXPECT_EQ(form->CheckProductUpdate(), TCheckResult::CheckFailed); // no manifest: 404

  WriteConfig("http://127.0.0.1:1/");
  Publish("招标工具/Version.xml", Manifest(kEntries));
  EXPECT_EQ(form->CheckProductUpdate(), TCheckResult::CheckFailed);
  EXPECT_EQ(form->CheckTemplateUpdate(), TCheckResult::CheckFailed);
  EXPECT_EQ(form->latestVersion, 0);
}

TEST_F(CheckTest, ServerThatNeverAnswersFailsTheCheckWithinItsLimit) {
  dir_.Write("package.bin", "x");
  testsupport::FaultServer silent(dir_.Utf8("package.bin"), dir_.Utf8("fault"), "silent");
  WriteConfig(silent.BaseUrl());
  auto form = Form({"-ZB"});
  form->limits.checkTotalMs = 1500;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(form->CheckProductUpdate(), TCheckResult::CheckFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(CheckTest, TemplateCheckComparesWithTheInstalledCommentVersion) {
  Publish("招标示范文本/Version.xml", Manifest(R"(<T Name="施工招标" Version="3" VersionPath="T3"/>
                      <T Name="施工招标" Version="9" VersionPath="T9"/>
                      <T Name="Goods" Version="2" VersionPath="G2"/>)"));
  auto installed = [&](const std::string& comment) {
    dir_.Write("exe/招标示范文本/施工招标.sfwb",
               ziptest::BuildZip(ziptest::TwoMembers(), Gbk(comment)).bytes);
  };
  struct Case {
    const char* what;
    const char* argument;
    std::optional<std::string> comment; // nullopt: no installed template
    TCheckResult result;
    int32_t installedVersion;
  } cases[] = {
      {"no installed template", "施工招标", std::nullopt, TCheckResult::UpdateAvailable, 0},
      {"older comment version", "施工招标", "[Region]\r\nVersion=2\r\n",
       TCheckResult::UpdateAvailable, 2},
      {"equal versions", "施工招标", "[Region]\nVersion = 3\n", TCheckResult::UpToDate, 3},
      {"blank version", "施工招标", "[Region]\r\nVersion=  \r\n", TCheckResult::UpdateAvailable, 0},
      {"comment without the key", "施工招标", "[Other]\r\nVersion=8\r\n",
       TCheckResult::UpdateAvailable, 0},
      {"version that is no number", "施工招标", "[Region]\r\nVersion=v3\r\n",
       TCheckResult::CheckFailed, 0},
      {"no entry of that name", "不存在", "[Region]\r\nVersion=1\r\n", TCheckResult::UpToDate, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("exe/招标示范文本"));
    if (c.comment) installed(*c.comment);
    auto form = Form({"-ZB", Gbk(c.argument).c_str()});
    EXPECT_EQ(form->CheckTemplateUpdate(), c.result);
    if (c.result == TCheckResult::CheckFailed) continue;
    EXPECT_EQ(form->GetInstalledTemplateVersion(), c.installedVersion);
    if (std::string(c.argument) == "施工招标") {
      // The first entry of the name wins, spelled as in the manifest.
      EXPECT_EQ(form->templateVersion, 3);
      EXPECT_EQ(form->packagePath, "T3");
      EXPECT_EQ(form->templateName, Gbk("施工招标"));
      EXPECT_EQ(form->localTemplatePath, dir_.Ansi("exe/招标示范文本/施工招标.sfwb"));
    }
  }
  // ASCII letters match in any case; the file is named as the manifest spells it.
  auto form = Form({"-ZB", "gOODS"});
  EXPECT_EQ(form->CheckTemplateUpdate(), TCheckResult::UpdateAvailable);
  EXPECT_EQ(form->templateName, "Goods");
}

} // namespace

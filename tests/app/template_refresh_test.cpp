// The sample-text refresh end to end: the real program, started with a
// template name and no display, against nginx on loopback.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

std::string Template(const std::string& comment, const std::string& body) {
  return ziptest::BuildZip({{"content.xml", body}}, comment).bytes;
}

class TemplateRefreshTest : public ::testing::Test {
protected:
  TemplateRefreshTest() {
    dir_.MakeFolder("exe");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    dir_.MakeFolder("tmp");
    dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    // The manifest comes only from the plain base, the template only from the
    // CDN base: a refresh that works proves that each goes its own way.
    dir_.Write("exe/VersionCfg.ini",
               "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + server_->BaseUrl() +
                   "cdn/\r\nURLWithnotCDN=" + server_->BaseUrl() +
                   "plain/\r\nDoneSize=0\r\n[Custom]\r\nKeep=yes\r\n");
  }

  void Publish(int version, const std::string& templ) {
    const std::string kind = Utf8ToAnsi("招标示范文本");
    dir_.Write("www/plain/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"施工招标\" Version=\"" +
                   std::to_string(version) + "\" VersionPath=\"T" + std::to_string(version) +
                   "\"/>\n</Templates>\n");
    dir_.Write("www/cdn/" + kind + "/T" + std::to_string(version) + "/" + Utf8ToAnsi("施工招标") +
                   ".sfwb",
               templ);
  }
  void Install(const std::string& templ) { dir_.Write("exe/招标示范文本/施工招标.sfwb", templ); }
  std::string Installed() const { return dir_.Read("exe/招标示范文本/施工招标.sfwb"); }

  // Runs `update -ZB 施工招标` without a display; returns its exit code.
  int Run() {
    ChildProcess update({dir_.Utf8("exe/update"), "-ZB", "施工招标"},
                        {{"DISPLAY", std::nullopt}, {"TMPDIR", dir_.Utf8("tmp")}},
                        dir_.Utf8("update.log"));
    auto code = update.WaitFor(std::chrono::seconds(60));
    EXPECT_TRUE(code.has_value()) << "the updater did not end";
    const std::string config = dir_.Read("exe/VersionCfg.ini");
    for (const char* key : {"CurVersion=5", "URLUseCDN=", "URLWithnotCDN=", "Keep=yes"})
      EXPECT_NE(config.find(key), std::string::npos) << key << " lost";
    return code.value_or(-1);
  }
  bool TemplateWasRequested() const {
    return testsupport::ReadFile(dir_.Utf8("nginx/access.log")).find(".sfwb") != std::string::npos;
  }

  testsupport::TempFolder dir_;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(TemplateRefreshTest, NewerTemplateReplacesTheInstalledOneByteForByte) {
  const std::string newer = Template("[Region]\r\nVersion=5\r\n", std::string(200000, 'n'));
  Publish(5, newer);
  Install(Template("[Region]\r\nVersion=2\r\n", "old"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Installed(), newer);
  EXPECT_EQ(dir_.Read("tmp/MQTUpdate/施工招标.sfwb"), newer);
}

TEST_F(TemplateRefreshTest, EqualVersionsOrABadCommentVersionTouchNothing) {
  Publish(5, Template("[Region]\r\nVersion=5\r\n", "new"));
  // Nothing new ends the run as it should; a comment that holds no number is
  // a failed check.
  for (auto [comment, status] :
       {std::pair{"[Region]\r\nVersion=5\r\n", 0}, std::pair{"[Region]\r\nVersion=five\r\n", 1}}) {
    SCOPED_TRACE(comment);
    const std::string installed = Template(comment, "installed");
    Install(installed);
    EXPECT_EQ(Run(), status);
    EXPECT_EQ(Installed(), installed);
    EXPECT_FALSE(TemplateWasRequested());
  }
}

TEST_F(TemplateRefreshTest, DownloadErrorWithoutADisplayIsWrittenToStandardError) {
  Publish(5, Template("[Region]\r\nVersion=5\r\n", "new"));
  std::filesystem::remove(dir_.Utf8("www/cdn/" + Utf8ToAnsi("招标示范文本") + "/T5/" +
                                    Utf8ToAnsi("施工招标") + ".sfwb"));
  const std::string installed = Template("[Region]\r\nVersion=2\r\n", "installed");
  Install(installed);
  EXPECT_EQ(Run(), 1);
  // Exactly the error's own text, one line.
  const std::string output = dir_.Read("update.log");
  EXPECT_EQ(output.rfind("服务器 127.0.0.1:", 0), 0u) << output;
  EXPECT_NE(output.find("返回错误：HTTP 404"), std::string::npos) << output;
  EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
  EXPECT_EQ(Installed(), installed);
}

// A form whose template "download" leaves a large file in the working
// folder, to see what a copy that fails half-way leaves behind.
class RefreshForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  TCheckResult CheckTemplateUpdate() override {
    templateName = Utf8ToAnsi("施工招标");
    localTemplatePath = ExeFolder() + Utf8ToAnsi("招标示范文本/施工招标.sfwb");
    return TCheckResult::UpdateAvailable;
  }
  bool DownloadTemplate() override { return true; }
};

TEST(TemplatePlacement, CopyFailingHalfWayLeavesTheInstalledTemplateWhole) {
  testsupport::TempFolder dir;
  testsupport::ScopedEnv tmp("TMPDIR", dir.Utf8("tmp").c_str());
  dir.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n");
  dir.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  dir.Write("exe/招标示范文本/施工招标.sfwb", "installed");
  dir.Write("tmp/MQTUpdate/施工招标.sfwb", std::string(1 << 20, 'x'));

  RefreshForm form({"-ZB", Utf8ToAnsi("施工招标")}, dir.Ansi("exe/"));
  // A file-size limit binds every user, root too: the copy fails after 64 KiB.
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  form.FormCreate();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(form.EndRequested());
  EXPECT_EQ(dir.Read("exe/招标示范文本/施工招标.sfwb"), "installed");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Utf8("exe/招标示范文本")))
    entries += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}

} // namespace

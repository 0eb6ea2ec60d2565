// The sample-text refresh end to end: the real program, started with a
// template name and no display, against nginx on loopback.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
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
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

std::string Template(const std::string& comment, const std::string& body) {
  return ziptest::BuildZip({{"content.xml", body}}, comment).bytes;
}

std::string RandomText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text(size, '\0');
  for (char& c : text)
    c = static_cast<char>('a' + random() % 26);
  return text;
}

// `text` as an XML attribute value.
std::string XmlAttribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\t':
      out += "&#9;";
      break;
    default:
      out += c;
    }
  }
  return out;
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

  // Publishes version `version` of the template named `name` (UTF-8) in
  // folder T<version>, the only entry of the manifest.
  void Publish(int version, const std::string& templ, const std::string& name = "施工招标") {
    const std::string kind = Utf8ToAnsi("招标示范文本");
    dir_.Write("www/plain/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"" +
                   XmlAttribute(name) + "\" Version=\"" + std::to_string(version) +
                   "\" VersionPath=\"T" + std::to_string(version) + "\"/>\n</Templates>\n");
    dir_.Write("www/cdn/" + kind + "/T" + std::to_string(version) + "/" + Utf8ToAnsi(name) +
                   ".sfwb",
               templ);
  }
  void Install(const std::string& templ, const std::string& name = "施工招标") {
    dir_.Write("exe/招标示范文本/" + name + ".sfwb", templ);
  }
  std::string Installed(const std::string& name = "施工招标") const {
    return dir_.Read("exe/招标示范文本/" + name + ".sfwb");
  }
  // The files of the working folder.
  std::set<std::string> WorkingFiles() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator(testsupport::FsPath(dir_.Utf8("tmp/MQTUpdate")), ec))
      names.insert(testsupport::Utf8Of(e.path().filename()));
    return names;
  }
  int64_t DoneSize() const {
    return platform::ReadProfileInt(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize", -1);
  }

  // Runs `update -ZB <name>` without a display; returns its exit code. What
  // it printed is in Output().
  int Run(const std::string& name = "施工招标") {
    ChildProcess update({dir_.Utf8("exe/update"), "-ZB", name},
                        {{"DISPLAY", std::nullopt}, {"TMPDIR", dir_.Utf8("tmp")}},
                        dir_.Utf8("update.log"));
    auto code = update.WaitFor(std::chrono::seconds(60));
    EXPECT_TRUE(code.has_value()) << "the updater did not end";
    const std::string config = dir_.Read("exe/VersionCfg.ini");
    for (const char* key : {"CurVersion=5", "URLUseCDN=", "URLWithnotCDN=", "Keep=yes"})
      EXPECT_NE(config.find(key), std::string::npos) << key << " lost";
    return code.value_or(-1);
  }
  std::string Output() const { return dir_.Read("update.log"); }
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
  // Nothing of a finished refresh is left to be resumed.
  EXPECT_EQ(WorkingFiles(), std::set<std::string>{"Version.xml"});
  EXPECT_EQ(DoneSize(), 0);
}

// The run log is for administrators; a log that can be written nowhere (a
// configured file under a file, and a folder in the place of update.log
// beside the updater and in the temporary folder) changes nothing else.
TEST_F(TemplateRefreshTest, ALogThatCannotBeWrittenChangesNothingElse) {
  const std::string newer = Template("[Region]\r\nVersion=5\r\n", "new");
  Publish(5, newer);
  Install(Template("[Region]\r\nVersion=2\r\n", "old"));
  dir_.Write("exe/VersionCfg.ini",
             dir_.Read("exe/VersionCfg.ini") + "[Log]\r\nFile=VersionCfg.ini/update.log\r\n");
  dir_.MakeFolder("exe/update.log");
  dir_.MakeFolder("tmp/update.log");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(Installed(), newer);
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

// A publisher ships the next version under a new folder, as told. The
// download of the version before must not be taken for its first bytes, even
// when both have the same size.
TEST_F(TemplateRefreshTest, NextVersionIsNeverSplicedOntoTheDownloadBeforeIt) {
  const std::string v5 = Template("[Region]\r\nVersion=5\r\n", RandomText(300000, 5));
  const std::string v6 = Template("[Region]\r\nVersion=6\r\n", RandomText(300000, 6));
  ASSERT_EQ(v5.size(), v6.size());
  Install(Template("[Region]\r\nVersion=2\r\n", "old"));
  Publish(5, v5);
  ASSERT_EQ(Run(), 0) << Output();
  ASSERT_TRUE(Installed() == v5);
  Publish(6, v6);
  EXPECT_EQ(Run(), 0) << Output();
  EXPECT_TRUE(Installed() == v6) << "the installed template is not version 6";
  EXPECT_EQ(WorkingFiles(), std::set<std::string>{"Version.xml"});
}

// Whatever the server sends in the template's place (an error page with
// status 200, a captive portal, an older or unversioned archive) never
// replaces the installed template.
TEST_F(TemplateRefreshTest, DownloadThatIsNoTemplateOfThatVersionIsRefused) {
  const std::string installed = Template("[Region]\r\nVersion=2\r\n", "installed");
  const struct {
    const char* what;
    std::string served;
  } cases[] = {
      {"a web page", "<html><head><title>Portal</title></head><body>Log in</body></html>\n"},
      {"an older version", Template("[Region]\r\nVersion=4\r\n", "older")},
      {"an archive without a version", Template("", "unversioned")},
      {"a version that is no number", Template("[Region]\r\nVersion=5a\r\n", "bad")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Install(installed);
    Publish(5, c.served);
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Output(), "下载的文件已损坏，请重新下载。\n");
    EXPECT_EQ(Installed(), installed);
    EXPECT_EQ(WorkingFiles(), std::set<std::string>{"Version.xml"});
    EXPECT_EQ(DoneSize(), 0);
  }
}

// A name that is no plain file name is refused before the manifest is asked
// for; nothing is written anywhere (but the run log).
TEST_F(TemplateRefreshTest, UnsafeTemplateNamesAreRefusedBeforeAnyRequest) {
  const std::string templ = Template("[Region]\r\nVersion=5\r\n", "new");
  auto files = [&] {
    std::set<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.Utf8()))
      if (e.is_regular_file())
        found.insert(testsupport::Utf8Of(e.path().lexically_relative(dir_.Utf8())));
    return found;
  };
  // A folder for "../../etc/x" to land in, were it let through.
  dir_.MakeFolder("etc");
  for (const char* name : {"../../etc/x", "..", ".", "a/b", "a\\b", "c:x", "a*", "x?", "a\"b", "<a",
                           "a>", "a|b", "tab\tname", "CON", "nul", "Com1", "lpt9", "aux.notes"}) {
    SCOPED_TRACE(name);
    Publish(5, templ, name);
    std::filesystem::remove(dir_.Utf8("nginx/access.log"));
    std::set<std::string> before = files();
    before.insert({"update.log", "exe/update.log"});
    EXPECT_EQ(Run(name), 4);
    EXPECT_EQ(Output(), std::string("模板名称无效：") + name + "\n");
    EXPECT_EQ(testsupport::ReadFile(dir_.Utf8("nginx/access.log")), "");
    for (const std::string& file : files())
      EXPECT_TRUE(before.count(file) || file.rfind("nginx/", 0) == 0) << file << " was written";
    EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate"));
  }
}

// Blanks, '%', '#', '+' and the other reserved characters go to the server
// percent-encoded, as does each GBK byte (乗 and 嘰 end in 0x5C, the
// backslash): each name reaches its own file.
TEST_F(TemplateRefreshTest, NamesWithReservedCharactersReachTheirOwnFile) {
  // What the server would hand out if "%41" reached it unencoded.
  dir_.Write("www/cdn/" + Utf8ToAnsi("招标示范文本") + "/T5/" + Utf8ToAnsi("模板A") + ".sfwb",
             Template("[Region]\r\nVersion=5\r\n", "decoy"));
  for (const char* name : {"施工 招标", "模板%41", "a#b", "a+b", "x&y;z=1", "乗嘰", "~a-b_c.d"}) {
    SCOPED_TRACE(name);
    const std::string templ = Template("[Region]\r\nVersion=5\r\n", std::string("for ") + name);
    Publish(5, templ, name);
    Install(Template("[Region]\r\nVersion=1\r\n", "old"), name);
    EXPECT_EQ(Run(name), 0) << Output();
    EXPECT_TRUE(Installed(name) == templ);
  }
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

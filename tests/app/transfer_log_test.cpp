// What an administrator reads in the run log about a transfer: the real
// program refreshes a template without a display, from nginx (the manifest,
// on the origin) and our fault server (the template, on the CDN). From the
// log alone one must tell which URL was asked, what the server answered and
// at which step the run stopped.
#include "platform/CodePage.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;
using testsupport::FaultServer;

// The template's path below the CDN base: 招标示范文本/T5/施工招标.sfwb.
const char* const kTemplatePath =
    "%D5%D0%B1%EA%CA%BE%B7%B6%CE%C4%B1%BE/T5/%CA%A9%B9%A4%D5%D0%B1%EA.sfwb";

// Whether `line` holds the pieces of `pattern` between its '*'s in order;
// a '*' stands for any run of characters.
bool Matches(const std::string& line, const std::string& pattern) {
  size_t at = 0, from = 0;
  for (;;) {
    const size_t star = pattern.find('*', from);
    const std::string piece = pattern.substr(from, star - from);
    at = line.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
    if (star == std::string::npos) return true;
    from = star + 1;
  }
}

class TransferLogTest : public ::testing::Test {
protected:
  TransferLogTest() {
    dir_.MakeFolder("exe");
    dir_.MakeFolder("tmp");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
    dir_.Write("exe/招标示范文本/施工招标.sfwb",
               ziptest::BuildZip({{"a", "old"}}, "[Region]\r\nVersion=2\r\n").bytes);
    std::mt19937 random(5);
    std::string body(300000, '\0');
    for (char& c : body)
      c = static_cast<char>('a' + random() % 26);
    template_ = ziptest::BuildZip({{"content.xml", body}}, "[Region]\r\nVersion=5\r\n").bytes;
    dir_.Write("template.sfwb", template_);
    nginx_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    dir_.Write("www/" + Utf8ToAnsi("招标示范文本") + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Templates>\n"
               "  <T Name=\"施工招标\" Version=\"5\" VersionPath=\"T5\"/>\n</Templates>\n");
  }

  // The CDN at `cdnBase`; the origin holds only the manifest, and the
  // fall-back is off, so that each failure of the CDN shows plainly.
  void Configure(const std::string& cdnBase) {
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + cdnBase +
                                         "\r\nURLWithnotCDN=" + nginx_->BaseUrl() +
                                         "\r\nDoneSize=0\r\nCDNFallback=0\r\n");
  }

  // Runs `update -ZB 施工招标` without a display; returns its exit code and
  // leaves the log lines of this run in lines_.
  int Run() {
    const size_t before = dir_.Read("exe/update.log").size();
    ChildProcess update({dir_.Utf8("exe/update"), "-ZB", "施工招标"},
                        {{"DISPLAY", std::nullopt}, {"TMPDIR", dir_.Utf8("tmp")}},
                        dir_.Utf8("output.txt"));
    const auto code = update.WaitFor(std::chrono::seconds(60));
    EXPECT_TRUE(code.has_value()) << "the updater did not end";
    lines_.clear();
    std::istringstream log(dir_.Read("exe/update.log").substr(before));
    for (std::string line; std::getline(log, line);)
      lines_.push_back(line);
    return code.value_or(-1);
  }

  // The index of the first line of this run at or after `from` that
  // `pattern` matches; -1 (and a failure listing the run's lines) when none.
  int Find(const std::string& pattern, int from = 0) const {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines_.size(); ++i)
      if (Matches(lines_[i], pattern)) return static_cast<int>(i);
    std::string all;
    for (const std::string& line : lines_)
      all += line + "\n";
    ADD_FAILURE() << "no line matches " << pattern << " in\n" << all;
    return -1;
  }
  int Count(const std::string& pattern) const {
    int n = 0;
    for (const std::string& line : lines_)
      n += Matches(line, pattern) ? 1 : 0;
    return n;
  }

  testsupport::TempFolder dir_;
  std::string template_;
  std::unique_ptr<testsupport::NginxServer> nginx_;
  std::vector<std::string> lines_;
};

TEST_F(TransferLogTest, ARoadWithACutAndAResumeCanBeFollowedLineByLine) {
  FaultServer cdn(dir_.Utf8("template.sfwb"), dir_.Utf8("cdn"), "cut", 123456);
  Configure(cdn.BaseUrl());
  const std::string url = cdn.BaseUrl() + kTemplatePath;
  const std::string size = std::to_string(template_.size());

  ASSERT_EQ(Run(), 1);
  int at = Find("] start version=* mode=template product=招标工具 ");
  at = Find("template name=施工招标 installed=2 published=5 path=T5 ", at);
  at = Find("head url=" + url + " status=200 length=" + size + " etag=\"", at);
  at = Find("restart file=*/施工招标.sfwb local=none reason=no-file", at);
  at = Find("download failed url=" + url +
                " local=0 resume=0 if-range=none status=206 bytes=123456 seconds=* "
                "speed=*KiB/s error=从服务器 127.0.0.1:* 接收数据失败",
            at);
  at = Find("error status=1: 从服务器 127.0.0.1:* 接收数据失败", at);
  Find("end status=1", at);

  ASSERT_EQ(Run(), 0);
  at = Find("head url=" + url + " status=200 length=" + size, 0);
  at = Find("resume file=*/施工招标.sfwb local=123456 offset=83456 validator=\"", at);
  at = Find("download url=" + url + " local=123456 resume=83456 if-range=\"*\" status=206 bytes=" +
                std::to_string(template_.size() - 83456) + " ",
            at);
  at = Find("check package file=*/施工招标.sfwb integrity=none result=ok", at);
  at = Find("check template file=施工招标.sfwb version=5 required=5 result=ok", at);
  at = Find("template installed ", at);
  Find("end status=0", at);
  EXPECT_EQ(Count(" error"), 0);
}

TEST_F(TransferLogTest, EachFailureOfTheServerNamesItsUrlStatusAndStep) {
  std::string refusing;
  {
    FaultServer gone(dir_.Utf8("template.sfwb"), dir_.Utf8("gone"), "normal");
    refusing = gone.BaseUrl();
  }
  dir_.Write("page.html", "<html><body>Sign in to continue</body></html>\n");
  struct Case {
    const char* what;
    const char* mode; // nullptr: nothing listens
    long arg;
    const char* served;
    int status;
    std::vector<std::string> lines; // in order; "URL" stands for the template's URL
  } cases[] = {
      {"nothing listens",
       nullptr,
       0,
       "template.sfwb",
       1,
       {"head failed url=URL status=none seconds=* error=无法连接服务器 127.0.0.1:",
        "error status=1: 无法连接服务器"}},
      {"404",
       "status",
       404,
       "template.sfwb",
       1,
       {"head failed url=URL status=404 * error=服务器 * 返回错误：HTTP 404",
        "error status=1: 服务器 * 返回错误：HTTP 404"}},
      {"503",
       "status",
       503,
       "template.sfwb",
       1,
       {"head failed url=URL status=503 ", "error status=1: *HTTP 503"}},
      {"silent",
       "silent",
       0,
       "template.sfwb",
       1,
       {"head failed url=URL status=none *超过 6000 毫秒没有响应", "error status=1: "}},
      {"no length",
       "no-length",
       0,
       "template.sfwb",
       1,
       {"head url=URL status=200 length=-1 ",
        "download url=URL * status=200 bytes=", "error status=1: 下载未完成"}},
      {"3 GiB",
       "huge",
       0,
       "template.sfwb",
       1,
       {"head url=URL status=200 length=3221225472 ", "error status=1: 安装包大小为 3221225472"}},
      {"a web page",
       "normal",
       0,
       "page.html",
       2,
       {"download url=URL * status=206 ",
        "check template file=施工招标.sfwb version=none required=5 result=refused",
        "error status=2: 下载的文件已损坏"}},
      {"slow, but whole",
       "slow",
       10,
       "template.sfwb",
       0,
       {"download url=URL * status=206 ", "check template * result=ok", "template installed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    std::unique_ptr<FaultServer> cdn;
    if (c.mode)
      cdn = std::make_unique<FaultServer>(dir_.Utf8(c.served), dir_.Utf8("cdn"), c.mode, c.arg);
    const std::string base = cdn ? cdn->BaseUrl() : refusing;
    Configure(base);
    EXPECT_EQ(Run(), c.status);
    int at = 0;
    for (std::string line : c.lines) {
      const size_t url = line.find("URL");
      if (url != std::string::npos) line.replace(url, 3, base + kTemplatePath);
      at = Find(line, at);
    }
    Find("end status=" + std::to_string(c.status), at);
    // At most one progress line for each tenth of the template, in order.
    int last = 0;
    for (const std::string& line : lines_) {
      const size_t p = line.find("progress percent=");
      if (p == std::string::npos) continue;
      const int percent = std::atoi(line.c_str() + p + 17);
      EXPECT_GT(percent, last) << line;
      last = percent;
    }
    EXPECT_LE(Count("progress percent="), 10);
  }
}

} // namespace

// The package transfer against our fault server: resume from DoneSize, the
// faults a server or a network can play, the progress and the speed display.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "platform/HttpClient.h"
#include "platform/Profile.h"
#include "platform/TextFormat.h"
#include "tests/app/download_record_fixture.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using recordtest::kInstallerPath;
using testsupport::FaultServer;

constexpr int kPackageSize = 300000;

using testsupport::RandomBytes;

// A form whose clock moves `step` days at each reading and whose questions
// are answered by the test.
class TransferForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  TDateTime Now() const override { return clock += step; }
  int Confirm(const std::string& text) override {
    questions.push_back(clock);
    questionText = text;
    return answer;
  }

  mutable TDateTime clock = 1.0;
  double step = 0;
  int answer = 6;
  std::vector<TDateTime> questions;
  std::string questionText;
};

class TransferTest : public ::testing::Test {
protected:
  TransferTest()
      : package_(RandomBytes(kPackageSize, 11)), tmpDir_("TMPDIR", dir_.Utf8("tmp").c_str()) {
    dir_.MakeFolder("tmp");
    dir_.Write("package.bin", package_);
  }
  ~TransferTest() override {
    // Whatever happened, the configuration keeps every other key.
    const std::string config = dir_.Read("exe/VersionCfg.ini");
    for (const char* key : {"CurVersion=5", "URLWithnotCDN=", "URLUseCDN=", "[Custom]", "Keep=yes"})
      EXPECT_NE(config.find(key), std::string::npos) << key << " lost from\n" << config;
  }

  FaultServer Serve(const std::string& mode, long arg = 0) {
    FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), mode, arg);
    WriteConfig(server.BaseUrl(), 0);
    return server;
  }
  void WriteConfig(const std::string& base, int64_t doneSize) {
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + base +
                                         "\r\nURLWithnotCDN=" + base + "\r\nDoneSize=" +
                                         std::to_string(doneSize) + "\r\n[Custom]\r\nKeep=yes\r\n");
  }
  void SetDoneSize(int64_t value) {
    platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize",
                                 std::to_string(value));
  }
  std::unique_ptr<TransferForm> Form() {
    auto form = std::make_unique<TransferForm>(std::vector<std::string>{"-ZB"}, dir_.Ansi("exe/"));
    form->packagePath = "V7";
    form->limits.transferMs = 1500;
    return form;
  }
  // The local installer, as the transfer leaves it in the working folder.
  std::string Local() const { return dir_.Read("tmp/MQTUpdate/招标工具.exe"); }
  void SetLocal(const std::string& bytes) { dir_.Write("tmp/MQTUpdate/招标工具.exe", bytes); }
  bool LocalExists() const { return dir_.Exists("tmp/MQTUpdate/招标工具.exe"); }
  // The record an earlier run would have left for `server`'s package.
  void LeaveRecord(const FaultServer& server) {
    recordtest::LeaveRecord(dir_.Ansi("tmp/MQTUpdate/招标工具.exe"),
                            server.BaseUrl() + kInstallerPath);
  }
  // The ETag that `server` gives its package now.
  static std::string ETagOf(const FaultServer& server) {
    platform::THttpClient client;
    client.Head(server.BaseUrl() + kInstallerPath);
    return client.ETag();
  }

  testsupport::TempFolder dir_;
  std::string package_;
  testsupport::ScopedEnv tmpDir_;
};

TEST_F(TransferTest, CutTransferResumesWithARangeAndEndsByteIdentical) {
  FaultServer server = Serve("cut", 123456);
  auto form = Form();
  std::vector<int32_t> percents;
  auto record = [&](int32_t p) { percents.push_back(p); };
  EXPECT_THROW(form->DownloadPackage(record), platform::EHttpError);
  EXPECT_EQ(Local(), package_.substr(0, 123456));
  EXPECT_EQ(form->ReadDoneSize(), 123456); // every written byte is counted
  EXPECT_EQ(percents.back(), 41);
  EXPECT_FALSE(form->httpClient);
  EXPECT_FALSE(form->progressCallback);

  percents.clear();
  EXPECT_TRUE(form->DownloadPackage(record));
  EXPECT_EQ(Local(), package_);
  EXPECT_EQ(form->ReadDoneSize(), kPackageSize);
  EXPECT_EQ(percents.back(), 100);
  // The URL of the CDN base, the product folder and the version folder; the
  // range names the version its first bytes came from.
  const std::string requests = server.Requests();
  EXPECT_NE(requests.find(std::string("GET /") + kInstallerPath +
                          " range=bytes=83456-300000 if-range=" + ETagOf(server) + "\n"),
            std::string::npos)
      << requests;
}

// A DoneSize that cannot be saved (a full disk, no rights to the updater's
// folder) must stop the transfer with an error the user sees, never be lost
// quietly: the next run would resume on bytes it knows nothing of.
TEST_F(TransferTest, ACountThatCannotBeSavedStopsTheTransferWithAnError) {
  FaultServer server = Serve("normal");
  SetDoneSize(123456);
  auto form = Form();
  const std::string before = dir_.Read("exe/VersionCfg.ini");
  // A file-size limit binds every user, root too: the rewrite of
  // VersionCfg.ini fails where the empty local file can still be made.
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 16;
  ::setrlimit(RLIMIT_FSIZE, &small);
  std::string error;
  try {
    form->DownloadPackage(nullptr);
  } catch (const EFOpenError& e) {
    error = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(error, platform::FormatText(Utf8ToAnsi("无法写入文件“%s”，请检查权限和磁盘空间。"),
                                        dir_.Ansi("exe/VersionCfg.ini")));
  EXPECT_EQ(dir_.Read("exe/VersionCfg.ini"), before);
}

TEST_F(TransferTest, ResumeStartsFortyThousandBytesBackButNeverPastTheLocalFile) {
  const std::string other = RandomBytes(400000, 99);
  struct Case {
    const char* what;
    std::optional<std::string> local; // nullopt: no local file
    bool record;                      // the record of this package beside it
    int64_t doneSize;
    int64_t rangeStart;
  } cases[] = {
      {"no local file: created, DoneSize reset", std::nullopt, false, 999999, 0},
      {"resume from DoneSize less the back-off", package_.substr(0, 150000), true, 100000, 60000},
      {"DoneSize below the back-off", package_.substr(0, 150000), true, 30000, 0},
      {"DoneSize beyond the file: no gap", package_.substr(0, 10000), true, 100000, 10000},
      {"complete earlier download", package_, true, kPackageSize, kPackageSize - 40000},
      {"longer file of another package", other, false, 400000, 0},
      {"longer file ending in stale bytes is cut", package_ + other, true, 100000, 60000},
      {"no record, as an older updater leaves it", other.substr(0, 150000), false, 100000, 0},
  };
  FaultServer server = Serve("normal");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    if (c.local) SetLocal(*c.local);
    if (c.record) LeaveRecord(server);
    SetDoneSize(c.doneSize);
    const size_t before = server.Requests().size();
    auto form = Form();
    EXPECT_TRUE(form->DownloadPackage(nullptr));
    EXPECT_EQ(Local(), package_);
    EXPECT_EQ(form->ReadDoneSize(), kPackageSize);
    // A resume names the version its bytes came from.
    const std::string range = "range=bytes=" + std::to_string(c.rangeStart) + "-300000" +
                              (c.rangeStart > 0 ? " if-range=\"" : "\n");
    EXPECT_NE(server.Requests().find(range, before), std::string::npos) << server.Requests();
  }
}

// A partial installer of version 6 lies in the working folder when version
// 7, of the same size, is published under its own folder: none of its bytes
// may end up in version 7's file.
TEST_F(TransferTest, PartialFileOfAnotherVersionIsNeverContinued) {
  const std::string v6 = RandomBytes(kPackageSize, 6);
  dir_.Write("v6.bin", v6);
  {
    FaultServer cut(dir_.Utf8("v6.bin"), dir_.Utf8("server"), "cut", 200000);
    WriteConfig(cut.BaseUrl(), 0);
    auto form = Form();
    form->packagePath = "V6";
    EXPECT_THROW(form->DownloadPackage(nullptr), platform::EHttpError);
    ASSERT_EQ(form->ReadDoneSize(), 200000);
  }
  FaultServer server = Serve("normal");
  SetDoneSize(200000);
  EXPECT_TRUE(Form()->DownloadPackage(nullptr));
  EXPECT_TRUE(Local() == package_) << "version 6's bytes were kept";
  EXPECT_NE(server.Requests().find("GET /%D5%D0%B1%EA%B9%A4%BE%DF/V7/%D5%D0%B1%EA%B9%A4%BE%DF.exe "
                                   "range=bytes=0-300000"),
            std::string::npos)
      << server.Requests();
}

// A count 40000 or more above a complete file would ask for an empty range,
// which the server refuses with 416, run after run. The last 40000 bytes are
// fetched again instead, as after any complete download.
TEST_F(TransferTest, CountBeyondACompleteFileFetchesItsLastBytesAgain) {
  FaultServer server = Serve("normal");
  ASSERT_TRUE(Form()->DownloadPackage(nullptr));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    SetDoneSize(kPackageSize + 40000 + 1000);
    const size_t before = server.Requests().size();
    EXPECT_TRUE(Form()->DownloadPackage(nullptr));
    EXPECT_EQ(Local(), package_);
    EXPECT_EQ(Form()->ReadDoneSize(), kPackageSize);
    EXPECT_NE(server.Requests().find("range=bytes=260000-300000", before), std::string::npos)
        << server.Requests();
  }
}

// The record beside the partial file must name what the server offers now:
// the same URL, length and validator. Anything else starts from byte 0.
TEST_F(TransferTest, OnlyAFileWhoseRecordMatchesTheServerIsContinued) {
  const std::string other = RandomBytes(kPackageSize, 98);
  dir_.Write("other.bin", other);
  struct Case {
    const char* what;
    std::vector<std::string> serverOptions;
    std::function<void(TDownloadRecord&)> bend; // what differs in the record
    int64_t rangeStart;
    const char* ifRange; // the start of the If-Range sent, or "" for none
  } cases[] = {
      {"everything matches", {}, [](TDownloadRecord&) {}, 110000, " if-range=\""},
      {"another version's URL",
       {},
       [](TDownloadRecord& r) { r.url.replace(r.url.find("/V7/"), 4, "/V6/"); },
       0,
       ""},
      {"another length", {}, [](TDownloadRecord& r) { r.length += 1; }, 0, ""},
      {"another ETag", {}, [](TDownloadRecord& r) { r.validator = "\"0123\""; }, 0, ""},
      {"a server with only Last-Modified",
       {"--validators", "last-modified"},
       [](TDownloadRecord&) {},
       110000,
       " if-range="},
      {"a server without validators", {"--validators", "none"}, [](TDownloadRecord&) {}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The partial file holds another package's bytes: a resume would keep them.
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    SetLocal(other.substr(0, 200000));
    FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), "normal", 0, c.serverOptions);
    WriteConfig(server.BaseUrl(), 150000);
    const std::string local = dir_.Ansi("tmp/MQTUpdate/招标工具.exe");
    LeaveRecord(server);
    TDownloadRecord record = ReadDownloadRecord(local).value();
    c.bend(record);
    ASSERT_TRUE(WriteDownloadRecord(local, record));

    EXPECT_TRUE(Form()->DownloadPackage(nullptr));
    const std::string expected =
        c.rangeStart > 0 ? other.substr(0, 110000) + package_.substr(110000) : package_;
    EXPECT_TRUE(Local() == expected);
    const std::string get = "range=bytes=" + std::to_string(c.rangeStart) + "-300000" + c.ifRange;
    EXPECT_NE(server.Requests().find(get), std::string::npos) << server.Requests();
    EXPECT_EQ(server.Requests().find("if-range") != std::string::npos, c.rangeStart > 0);
    // The record now describes the file as it is.
    const std::optional<TDownloadRecord> kept = ReadDownloadRecord(local);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->length, kPackageSize);
    EXPECT_EQ(kept->url, server.BaseUrl() + kInstallerPath);
  }
}

// The server's file changes under the same URL while a partial download of
// it lies in the working folder. Whether the server honours If-Range or not,
// the result is the new file, never a mixture.
TEST_F(TransferTest, FileChangedOnTheServerIsNeverJoinedToTheOldBytes) {
  const std::string newer = RandomBytes(kPackageSize, 12);
  for (const char* ifRange : {"honour", "ignore"}) {
    SCOPED_TRACE(std::string("If-Range: ") + ifRange);
    // Between two runs: the HEAD tells of the new version.
    {
      std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
      dir_.Write("package.bin", package_);
      FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), "cut", 123456,
                         {"--if-range", ifRange});
      WriteConfig(server.BaseUrl(), 0);
      EXPECT_THROW(Form()->DownloadPackage(nullptr), platform::EHttpError);
      dir_.Write("package.bin", newer);
      EXPECT_TRUE(Form()->DownloadPackage(nullptr));
      EXPECT_TRUE(Local() == newer);
      EXPECT_EQ(server.Requests().find("if-range"), std::string::npos) << server.Requests();
    }
    // Between the HEAD and the GET: the HEAD still tells of the old one.
    {
      std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
      dir_.Write("package.bin", package_);
      dir_.Write("served.bin", package_);
      FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), "cut", 123456,
                         {"--if-range", ifRange, "--get-file", dir_.Utf8("served.bin")});
      WriteConfig(server.BaseUrl(), 0);
      EXPECT_THROW(Form()->DownloadPackage(nullptr), platform::EHttpError);
      dir_.Write("served.bin", newer);
      EXPECT_TRUE(Form()->DownloadPackage(nullptr));
      EXPECT_TRUE(Local() == newer);
      EXPECT_NE(server.Requests().find("range=bytes=83456-300000 if-range="), std::string::npos)
          << server.Requests();
    }
  }
}

// A server that refuses the range (416: its file is shorter than its HEAD
// said) gets one request for the whole file in the same run, not a loop.
TEST_F(TransferTest, RefusedRangeRestartsFromTheFirstByteOnce) {
  dir_.Write("served.bin", package_);
  FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), "normal", 0,
                     {"--if-range", "ignore", "--get-file", dir_.Utf8("served.bin")});
  WriteConfig(server.BaseUrl(), 0);
  ASSERT_TRUE(Form()->DownloadPackage(nullptr));
  dir_.Write("served.bin", package_.substr(0, 100000));
  const size_t before = server.Requests().size();
  EXPECT_FALSE(Form()->DownloadPackage(nullptr));
  const std::string requests = server.Requests().substr(before);
  const size_t refused = requests.find("GET /");
  ASSERT_NE(refused, std::string::npos) << requests;
  EXPECT_NE(requests.find("range=bytes=260000-300000 if-range=", refused), std::string::npos);
  const size_t whole = requests.find("GET /", refused + 1);
  ASSERT_NE(whole, std::string::npos) << requests;
  const std::string fromTheStart = " range=bytes=0-300000\n";
  EXPECT_EQ(requests.compare(requests.find(" range=", whole), fromTheStart.size(), fromTheStart), 0)
      << requests;
  EXPECT_EQ(requests.find("GET /", whole + 1), std::string::npos) << requests;
  EXPECT_EQ(Local(), package_.substr(0, 100000));
}

TEST_F(TransferTest, ServerFaults) {
  // A range ignored: the whole package is written from the start.
  {
    FaultServer server = Serve("ignore-range");
    SetLocal(package_.substr(0, 150000));
    LeaveRecord(server);
    SetDoneSize(100000);
    EXPECT_TRUE(Form()->DownloadPackage(nullptr));
    EXPECT_EQ(Local(), package_);
    EXPECT_EQ(Form()->ReadDoneSize(), kPackageSize);
  }
  // No Content-Length: the size is unknown, so the file never counts as whole.
  {
    FaultServer server = Serve("no-length");
    std::vector<int32_t> percents;
    auto form = Form();
    EXPECT_FALSE(form->DownloadPackage([&](int32_t p) { percents.push_back(p); }));
    EXPECT_LT(form->totalSize, 0);
    EXPECT_EQ(std::count(percents.begin(), percents.end(), 0), static_cast<long>(percents.size()));
    EXPECT_EQ(Local(), package_);
  }
  // An error status leaves the call with its text; the bytes on disk stay.
  {
    FaultServer server = Serve("status", 404);
    SetLocal("partial");
    SetDoneSize(7);
    try {
      Form()->DownloadPackage(nullptr);
      ADD_FAILURE() << "no error";
    } catch (const platform::EHttpError& e) {
      EXPECT_EQ(e.Status(), 404);
      EXPECT_NE(std::string(e.what()).find("404"), std::string::npos);
    }
    EXPECT_EQ(Local(), "partial");
    EXPECT_EQ(Form()->ReadDoneSize(), 7);
  }
  // A redirect is followed.
  {
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    FaultServer server = Serve("redirect");
    EXPECT_TRUE(Form()->DownloadPackage(nullptr));
    EXPECT_EQ(Local(), package_);
  }
}

TEST_F(TransferTest, NothingIsFetchedWithoutAPackagePathOrForAPackageOf2GiB) {
  FaultServer server = Serve("huge");
  auto form = Form();
  form->packagePath.clear();
  EXPECT_FALSE(form->DownloadPackage(nullptr));
  EXPECT_EQ(server.Requests(), "");

  form->packagePath = "V7";
  try {
    form->DownloadPackage(nullptr);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("3221225472"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Local(), "");
  EXPECT_EQ(server.Requests().find("GET"), std::string::npos);
}

TEST_F(TransferTest, ServerThatNeverAnswersEndsTheTransferWithAnError) {
  FaultServer server = Serve("silent");
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Form()->DownloadPackage(nullptr), platform::EHttpError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(TransferTest, SlowTransferAsksAfterTwentySecondsAndAgainOnlyTwentySecondsAfterYes) {
  // 1 KiB every 10 ms, while the form's clock moves 2 s at each event: about
  // 0.5 KiB/s by that clock, far below the threshold.
  FaultServer server = Serve("slow", 10);
  auto form = Form();
  form->step = 2.0 / 86400;
  EXPECT_TRUE(form->DownloadPackage(nullptr));
  EXPECT_EQ(Local(), package_);
  ASSERT_GE(form->questions.size(), 1u);
  EXPECT_EQ(form->questionText, Utf8ToAnsi("检测到您的下载速度过慢，是否继续下载？"));
  // The first slow event is the second event of the transfer (the first only
  // sets the baseline); the question comes at the first event more than 20 s
  // later, and after each "yes" no earlier than 20 s after it.
  const double first = 1.0 + 2 * form->step;
  EXPECT_NEAR((form->questions[0] - first) * 86400, 22.0, 0.01);
  for (size_t i = 1; i < form->questions.size(); ++i)
    EXPECT_NEAR((form->questions[i] - form->questions[i - 1]) * 86400, 24.0, 0.01);
  EXPECT_FALSE(form->EndRequested());
}

TEST_F(TransferTest, DecliningTheSlowQuestionStopsTheTransferAndEndsTheProgram) {
  FaultServer server = Serve("slow", 10);
  auto form = Form();
  form->step = 2.0 / 86400;
  form->answer = 7;
  EXPECT_FALSE(form->DownloadPackage(nullptr));
  EXPECT_EQ(form->questions.size(), 1u);
  EXPECT_TRUE(form->EndRequested());
  const std::string local = Local();
  EXPECT_LT(local.size(), package_.size());
  EXPECT_EQ(local, package_.substr(0, local.size()));
  EXPECT_EQ(form->ReadDoneSize(), static_cast<int64_t>(local.size()));
}

TEST_F(TransferTest, SpeedShowsKibPerSecondFromTheSecondEventOn) {
  WriteConfig("http://127.0.0.1:1/", 0);
  auto form = Form();
  const TControl& label = form->controls[ControlId::lblShow];
  form->ShowTransferSpeed(1000); // the baseline
  EXPECT_EQ(label.caption, "(10K/20M)");
  form->ShowTransferSpeed(2000); // no time has passed
  EXPECT_EQ(label.caption, "(10K/20M)");
  form->step = 2.0 / 86400;
  form->ShowTransferSpeed(1000 + 500000);
  EXPECT_EQ(label.caption, Utf8ToAnsi("下载速度：244.14KB/s"));
  EXPECT_EQ(form->slowSince, 0);
  form->step = 3600.0 / 86400; // an hour later, 100 bytes more: slow from now
  form->ShowTransferSpeed(1000 + 500000 + 100);
  EXPECT_EQ(label.caption, Utf8ToAnsi("下载速度：0.14KB/s"));
  EXPECT_EQ(form->slowSince, form->clock);
  EXPECT_TRUE(form->questions.empty());
}

TEST_F(TransferTest, PercentRoundsHalvesToEven) {
  WriteConfig("http://127.0.0.1:1/", 0);
  auto form = Form();
  struct Case {
    int32_t received;
    int64_t total;
    int32_t percent;
  } cases[] = {{0, -1, 0},  {5, 0, 0},       {1, 200, 0},     {3, 200, 2},
               {5, 200, 2}, {199, 200, 100}, {200, 200, 100}, {400, 200, 100}};
  for (const Case& c : cases) {
    form->receivedSize = c.received;
    form->totalSize = c.total;
    EXPECT_EQ(form->GetProgressPercent(), c.percent) << c.received << "/" << c.total;
  }
}

} // namespace

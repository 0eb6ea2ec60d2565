// The whole program-update road with the real program, its real window under
// a virtual display and nginx as the update server: the offer, the download,
// the install prompt and the installation, and the other ways out of the
// window. Each state's picture is kept in test-artefacts/window/.
//
// The demo product lives in one temporary folder:
//   exe/          the updater beside VersionCfg.ini
//   www/          the update server's tree (GBK names)
//   c/            drive C: with the install folder and the Start-menu shortcut
//   tmp/          the temporary folder, holding the working folder
#include "platform/CodePage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/support/UpdateFormPlaces.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::Utf8ToAnsi;
using testsupport::ChildProcess;
using testsupport::kCloseGlyph;
using testsupport::kLaterButton;
using testsupport::kOkButton;
using testsupport::kUpdateButton;
using testsupport::Point;
using testsupport::ReadFile;
using testsupport::WindowPlace;

const char* const kInstall = "c/Program Files/Zorva/招标工具/";
const char* const kStartMenu =
    "c/Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/";

// nginx's log line of the package's GET once it has been sent; the HEAD
// before it does not count.
const char* const kPackageDone = ".exe HTTP/1.1\" 206";

class UpdateRoadTest : public ::testing::Test {
protected:
  UpdateRoadTest() : display_(dir_.Utf8("xvfb.log")) {
    dir_.MakeFolder("exe");
    dir_.MakeFolder("tmp");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    // The installer takes a few seconds to arrive, so the progress shows.
    const std::string packageDir = "www/" + Utf8ToAnsi("招标工具") + "/V7/";
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"),
                                                         "    location /" + Utf8ToAnsi("招标工具") +
                                                             "/V7/ { limit_rate 300k; }\n");
    dir_.Write(packageDir + Utf8ToAnsi("招标工具") + ".exe",
               "#!/bin/sh\necho \"install $*\" >> '" + dir_.Utf8("log.txt") + "'\necho 7 > '" +
                   dir_.Utf8(kInstall) + "version.txt'\n: > '" + dir_.Utf8(kInstall) +
                   "MQT6.exe'\n" + "# " + std::string(600000, 'x') + "\n");
    Publish("0");
    WriteConfig(server_->BaseUrl(), 6);
    dir_.Write(
        "registry.ini",
        Utf8ToAnsi(
            "[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=C:\\Program Files\\Zorva\\招标工具\r\n"));
    dir_.Write(std::string(kInstall) + "version.txt", "6\n");
    dir_.Write(std::string(kInstall) + "RecentProject.log", "D:\\工程\\一号标段.zbs\r\n");
    // The old version's uninstaller removes the recent-project list, as
    // uninstallers do.
    dir_.Write(std::string(kInstall) + "unins000.exe",
               "#!/bin/sh\necho \"uninstall $*\" >> '" + dir_.Utf8("log.txt") + "'\nrm -f '" +
                   dir_.Utf8(kInstall) + "RecentProject.log' '" + dir_.Utf8(kInstall) +
                   "version.txt'\n");
    ::chmod(dir_.Utf8(std::string(kInstall) + "unins000.exe").c_str(), 0700);
    dir_.Write(
        std::string(kStartMenu) + "卸载 MQT6.exe.lnk",
        testsupport::MakeShellLink(
            {Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具\\"), "unins000.exe", false, {}, {}}));
  }

  void Publish(const std::string& mustUpdate) {
    dir_.Write("www/" + Utf8ToAnsi("招标工具") + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Versions>\n"
               "  <Version Name=\"\" Version=\"7\" VersionPath=\"V7\" MustUpdate=\"" +
                   mustUpdate +
                   "\">\n"
                   "    <Detail 明细=\"1. 新增电子标书一键导出。\"/>\n"
                   "    <Detail 明细=\"2. 修正了大文件保存变慢的问题。\"/>\n"
                   "  </Version>\n</Versions>\n");
  }
  void WriteConfig(const std::string& base, int curVersion) {
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=" + std::to_string(curVersion) +
                                         "\r\n[HTTP]\r\nURLUseCDN=" + base +
                                         "\r\nURLWithnotCDN=" + base + "\r\nDoneSize=0\r\n");
  }

  void Start() {
    program_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{dir_.Utf8("exe/update"), "-ZB"},
        std::map<std::string, std::optional<std::string>>{
            {"DISPLAY", display_.Name()},
            {"TMPDIR", dir_.Utf8("tmp")},
            {"UPDATE_REGISTRY_FILE", dir_.Utf8("registry.ini")},
            {"UPDATE_DRIVE_C", dir_.Utf8("c")},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}},
        dir_.Utf8("output.txt"));
    auto place = testsupport::FindWindow(display_, "在线升级", 20s);
    ASSERT_TRUE(place.has_value()) << ReadFile(dir_.Utf8("output.txt"));
    place_ = *place;
    EXPECT_EQ(place_.width, 424);
    EXPECT_EQ(place_.height, 270);
    EXPECT_EQ(place_.left, (1280 - 424) / 2);
    EXPECT_EQ(place_.top, (1024 - 270) / 2);
  }

  // Waits until nginx has logged a request whose line holds `text`.
  bool ServerSaw(const std::string& text, std::chrono::seconds limit = 20s) {
    if (!server_->Logged(text, limit)) return false;
    std::this_thread::sleep_for(500ms); // the window shows the result
    return true;
  }
  void Click(Point p) { testsupport::ClickAt(display_, place_.left + p.x, place_.top + p.y); }
  void Picture(const std::string& state) {
    EXPECT_GT(testsupport::TakeScreenshot(display_, place_,
                                          UPDATER_ARTEFACT_DIR "/window/" + state + ".png"),
              2)
        << state;
  }
  std::optional<int> Ended(std::chrono::seconds limit = 20s) { return program_->WaitFor(limit); }
  // A running program named like the product: a copy of sleep.
  std::unique_ptr<ChildProcess> StartProduct() {
    std::filesystem::copy_file("/bin/sleep", dir_.Utf8("MQT6.exe"),
                               std::filesystem::copy_options::overwrite_existing);
    return std::make_unique<ChildProcess>(std::vector<std::string>{dir_.Utf8("MQT6.exe"), "600"},
                                          std::map<std::string, std::optional<std::string>>{},
                                          dir_.Utf8("product.txt"));
  }

  testsupport::TempFolder dir_;
  testsupport::VirtualDisplay display_;
  std::unique_ptr<testsupport::NginxServer> server_;
  std::unique_ptr<ChildProcess> program_;
  WindowPlace place_{};
};

TEST_F(UpdateRoadTest, OfferDownloadConfirmAndTheNewVersionIsInstalled) {
  Start();
  Picture("checking");
  ASSERT_TRUE(ServerSaw("Version.xml"));
  Picture("offer");
  Click(kUpdateButton);
  std::this_thread::sleep_for(1000ms);
  // The transfer repaints the bar and the speed as it goes: one picture.
  display_.Run("import -window root -crop 424x270+" + std::to_string(place_.left) + "+" +
               std::to_string(place_.top) +
               " png:'" UPDATER_ARTEFACT_DIR "/window/downloading.png'");
  ASSERT_TRUE(ServerSaw(kPackageDone, 30s)) << "the download did not end";
  Picture("ready-to-install");
  Click(kOkButton);
  auto code = Ended(30s);
  ASSERT_TRUE(code.has_value()) << "the window stayed after the installation";
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(dir_.Read(std::string(kInstall) + "version.txt"), "7\n");
  EXPECT_EQ(dir_.Read(std::string(kInstall) + "RecentProject.log"), "D:\\工程\\一号标段.zbs\r\n");
  EXPECT_EQ(dir_.Read("log.txt"), "uninstall /quiet\ninstall /quiet\n");
  EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate"));

  // The run log tells the road, in its order, from the offer to the end.
  const std::string log = dir_.Read("exe/update.log");
  size_t at = 0;
  for (const char* event :
       {"start version=", "offer version=7 installed=6 path=V7 ", "head url=", "download url=",
        " status=206 ", "check package ", "install check ", " result=program", "snapshot taken ",
        "uninstall exit=0", "install exit=0 executable=present", "installed\n", "end status=0\n"}) {
    const size_t found = log.find(event, at);
    ASSERT_NE(found, std::string::npos) << event << " missing after byte " << at << " of\n" << log;
    at = found;
  }
}

TEST_F(UpdateRoadTest, LaterAndTheCloseGlyphLeaveWithoutDownloading) {
  for (Point way : {kLaterButton, kCloseGlyph}) {
    Start();
    ASSERT_TRUE(ServerSaw("Version.xml"));
    Click(way);
    auto code = Ended();
    ASSERT_TRUE(code.has_value()) << "the window stayed";
    EXPECT_EQ(*code, 0);
  }
  EXPECT_EQ(ReadFile(dir_.Utf8("nginx/access.log")).find(".exe"), std::string::npos);
  EXPECT_EQ(dir_.Read(std::string(kInstall) + "version.txt"), "6\n");
}

TEST_F(UpdateRoadTest, NothingNewAndNoServerShowTheirResult) {
  struct Case {
    const char* state;
    std::string base;
    int curVersion;
    int exitStatus;
  } cases[] = {{"no-update", server_->BaseUrl(), 7, 0},
               {"network-error", "http://127.0.0.1:1/", 6, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    WriteConfig(c.base, c.curVersion);
    Start();
    std::this_thread::sleep_for(3500ms); // the timer, then the check
    Picture(c.state);
    Click(kOkButton);
    auto code = Ended();
    ASSERT_TRUE(code.has_value()) << "确定 did not close the window";
    EXPECT_EQ(*code, c.exitStatus);
  }
}

TEST_F(UpdateRoadTest, MandatoryUpdateEndsTheRunningProductAndOffersNoLater) {
  Publish("1");
  auto product = StartProduct();
  Start();
  ASSERT_TRUE(ServerSaw("Version.xml"));
  EXPECT_TRUE(product->WaitFor(5s).has_value()) << "the product still runs";
  Picture("offer-mandatory");
  Click(kLaterButton); // nothing there any more
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(Ended(0s).has_value());
  Click(kCloseGlyph);
  EXPECT_TRUE(Ended().has_value());
}

TEST_F(UpdateRoadTest, InstallIsRefusedWhileTheProductRunsAndWorksOnceItEnds) {
  Start();
  ASSERT_TRUE(ServerSaw("Version.xml"));
  Click(kUpdateButton);
  ASSERT_TRUE(ServerSaw(kPackageDone, 30s));
  auto product = StartProduct();
  std::this_thread::sleep_for(300ms);
  Click(kOkButton);
  auto box = testsupport::FindWindow(display_, "提示", 10s);
  ASSERT_TRUE(box.has_value()) << "no refusal";
  testsupport::TakeScreenshot(display_, *box, UPDATER_ARTEFACT_DIR "/window/install-refused.png");
  testsupport::KeyAt(display_, box->left + box->width / 2, box->top + box->height / 2, "Return");
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(Ended(0s).has_value()) << "the window closed while the product runs";
  EXPECT_EQ(dir_.Read(std::string(kInstall) + "version.txt"), "6\n");

  product->Stop();
  Click(kOkButton);
  auto code = Ended(30s);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(dir_.Read(std::string(kInstall) + "version.txt"), "7\n");
}

} // namespace

// The program-update road of the Windows program under Wine, on a virtual
// display, with nginx as the update server: the road of
// tests/app/update_road_test.cpp, clicked at the same places, since the
// control model places the controls on both systems. Each state's picture is
// kept in test-artefacts/window-wine/, beside the Linux ones in window/.
//
// The installer, the old version's uninstaller and the running product are
// copies of record_args.exe, which writes its name and arguments to log.txt.
#include "platform/CodePage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"
#include "tests/support/UpdateFormPlaces.h"
#include "tests/support/VirtualDisplay.h"
#include "tests/windows/WineSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
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

// nginx's log line of the package's GET once it has been sent; the HEAD
// before it does not count.
const char* const kPackageDone = ".exe HTTP/1.1\" 206";

class UpdateRoadUnderWine : public ::testing::Test {
protected:
  UpdateRoadUnderWine() : display_(dir_.Utf8("xvfb.log")) {
    EXPECT_TRUE(winetest::WaitForWineServerEnd(dir_.Utf8("wineserver.log")));
    std::filesystem::remove_all(winetest::WorkingFolder());
    dir_.MakeFolder("exe");
    std::filesystem::copy_file(UPDATER_WINDOWS_PROGRAM, dir_.Utf8("exe/update.exe"));
    // The installer takes a few seconds to arrive, so that the progress shows;
    // the bytes appended to the program do not keep it from running.
    const std::string kind = Utf8ToAnsi("招标工具");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"),
                                                         "    location /" + kind +
                                                             "/V7/ { limit_rate 300k; }\n");
    dir_.Write("www/" + kind + "/V7/" + kind + ".exe",
               ReadFile(kRecordArgs) + std::string(600000, 'x'));
    Publish("0");
    WriteConfig(server_->BaseUrl(), 6);

    // The old version's uninstaller, found through its shortcut in the
    // product's Start-menu folder on drive C. Wine's shell reads the local
    // base path of a shortcut and not its common suffix: the path is whole.
    std::filesystem::copy_file(kRecordArgs, dir_.Utf8("unins000.exe"));
    documents_ =
        std::filesystem::u8path(winetest::WinePrefix() + "/drive_c/Documents and Settings");
    madeDocuments_ = !std::filesystem::exists(documents_);
    startMenu_ =
        documents_ / std::filesystem::u8path("All Users/「开始」菜单/程序/Zorva电子招标工具");
    std::filesystem::create_directories(startMenu_);
    std::ofstream(startMenu_ / std::filesystem::u8path("卸载 MQT6.exe.lnk"), std::ios::binary)
        << testsupport::MakeShellLink(
               {Utf8ToAnsi(winetest::WinePath(dir_.Utf8("unins000.exe"))), "", false, {}, {}});
  }

  ~UpdateRoadUnderWine() override {
    program_.reset();
    product_.reset();
    // The next test starts its own server on its own display.
    winetest::WaitForWineServerEnd(dir_.Utf8("wineserver.log"));
    std::filesystem::remove_all(winetest::WorkingFolder());
    std::filesystem::remove_all(madeDocuments_ ? documents_ : startMenu_);
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

  // Starts the updater and waits for its window, checked to be centred on
  // the 1280 x 1024 screen with the given size.
  void Start(int height = 270) {
    program_ = winetest::StartWine({dir_.Utf8("exe/update.exe"), "-ZB"}, display_.Name(),
                                   dir_.Utf8("output.txt"), LogVariable());
    auto place = winetest::FindSettledWindow(display_, "在线升级", 60s);
    ASSERT_TRUE(place.has_value()) << ReadFile(dir_.Utf8("output.txt"));
    place_ = *place;
    EXPECT_EQ(place_.width, 424);
    EXPECT_EQ(place_.height, height);
    EXPECT_EQ(place_.left, (1280 - 424) / 2);
    EXPECT_EQ(place_.top, (1024 - height) / 2);
  }
  std::map<std::string, std::optional<std::string>> LogVariable() const {
    return {{"RECORD_ARGS_LOG", winetest::WinePath(dir_.Utf8("log.txt"))}};
  }

  // Waits until nginx has logged a request whose line holds `text`.
  bool ServerSaw(const std::string& text, std::chrono::seconds limit = 30s) {
    if (!server_->Logged(text, limit)) return false;
    std::this_thread::sleep_for(1s); // the window shows the result
    return true;
  }
  // Waits until log.txt holds `line`.
  bool Logged(const std::string& line, std::chrono::seconds limit = 30s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      if (("\n" + dir_.Read("log.txt")).find("\n" + line + "\n") != std::string::npos) return true;
      std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  void Click(Point p) { testsupport::ClickAt(display_, place_.left + p.x, place_.top + p.y); }
  void Picture(const std::string& state) {
    EXPECT_GT(testsupport::TakeDrawnScreenshot(
                  display_, place_, UPDATER_ARTEFACT_DIR "/window-wine/" + state + ".png", 20s),
              2)
        << state;
  }
  std::optional<int> Ended(std::chrono::seconds limit = 30s) { return program_->WaitFor(limit); }
  // A running program named like the product, started once it has said so.
  void StartProduct() {
    std::filesystem::copy_file(kRecordArgs, dir_.Utf8("MQT6.exe"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(dir_.Utf8("log.txt"));
    product_ = winetest::StartWine({dir_.Utf8("MQT6.exe"), "--stay"}, display_.Name(),
                                   dir_.Utf8("product.txt"), LogVariable());
    ASSERT_TRUE(Logged("MQT6.exe --stay")) << "the product did not start";
  }

  static constexpr const char* kRecordArgs = UPDATER_WINDOWS_TEST_PROGRAMS "/record_args.exe";
  testsupport::TempFolder dir_;
  testsupport::VirtualDisplay display_;
  std::unique_ptr<testsupport::NginxServer> server_;
  std::unique_ptr<ChildProcess> program_;
  std::unique_ptr<ChildProcess> product_;
  std::filesystem::path documents_;
  std::filesystem::path startMenu_;
  bool madeDocuments_ = false;
  WindowPlace place_{};
};

TEST_F(UpdateRoadUnderWine, OfferDownloadConfirmAndTheInstallerRunsQuietly) {
  Start();
  Picture("checking");
  ASSERT_TRUE(ServerSaw("Version.xml"));
  Picture("offer");
  Click(kUpdateButton);
  std::this_thread::sleep_for(1500ms);
  // The transfer repaints the bar and the speed as it goes: one picture.
  display_.Run("import -window root -crop 424x270+" + std::to_string(place_.left) + "+" +
               std::to_string(place_.top) +
               " png:'" UPDATER_ARTEFACT_DIR "/window-wine/downloading.png'");
  ASSERT_TRUE(ServerSaw(kPackageDone, 60s)) << "the download did not end";
  Picture("ready-to-install");
  Click(kOkButton);
  auto code = Ended(60s);
  ASSERT_TRUE(code.has_value()) << "the window stayed after the installation";
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(dir_.Read("log.txt"), "unins000.exe /quiet\n招标工具.exe /quiet\n");
  EXPECT_FALSE(std::filesystem::exists(winetest::WorkingFolder()));
}

TEST_F(UpdateRoadUnderWine, NothingNewNoServerAndNoConfigShowTheirResult) {
  // A check that cannot reach the server is an error of the run (status 1).
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
    std::this_thread::sleep_for(4s); // the timer, then the check
    Picture(c.state);
    Click(kOkButton);
    auto code = Ended();
    ASSERT_TRUE(code.has_value()) << "确定 did not close the window";
    EXPECT_EQ(*code, c.exitStatus);
  }

  std::filesystem::remove(dir_.Utf8("exe/VersionCfg.ini"));
  Start(640);
  Picture("config-missing");
  // The borderless window moves when its title band is dragged.
  display_.Run("xdotool mousemove " + std::to_string(place_.left + 200) + " " +
               std::to_string(place_.top + 20) + " mousedown 1 mousemove " +
               std::to_string(place_.left + 230) + " " + std::to_string(place_.top + 40) +
               " mousemove " + std::to_string(place_.left + 250) + " " +
               std::to_string(place_.top + 60) + " mouseup 1");
  std::this_thread::sleep_for(1s);
  auto moved = winetest::FindSettledWindow(display_, "在线升级", 10s);
  ASSERT_TRUE(moved.has_value());
  EXPECT_EQ(moved->left, place_.left + 50);
  EXPECT_EQ(moved->top, place_.top + 40);
  place_ = *moved;
  Click(kCloseGlyph);
  auto code = Ended();
  ASSERT_TRUE(code.has_value()) << "the close glyph did not close the window";
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(ReadFile(dir_.Utf8("nginx/access.log")).find(".exe"), std::string::npos);
}

TEST_F(UpdateRoadUnderWine, MandatoryOfferEndsTheProductAndInstallWaitsForItsEnd) {
  Publish("1");
  StartProduct();
  Start();
  ASSERT_TRUE(ServerSaw("Version.xml"));
  EXPECT_TRUE(product_->WaitFor(10s).has_value()) << "the product still runs";
  Picture("offer-mandatory");
  Click(kLaterButton); // nothing there any more
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(Ended(0s).has_value());

  Click(kUpdateButton);
  ASSERT_TRUE(ServerSaw(kPackageDone, 60s));
  StartProduct();
  Click(kOkButton);
  auto box = winetest::FindSettledWindow(display_, "提示", 20s);
  ASSERT_TRUE(box.has_value()) << "no refusal";
  EXPECT_GT(testsupport::TakeDrawnScreenshot(
                display_, *box, UPDATER_ARTEFACT_DIR "/window-wine/install-refused.png", 20s),
            2);
  testsupport::KeyAt(display_, box->left + box->width / 2, box->top + box->height / 2, "Return");
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(Ended(0s).has_value()) << "the window closed while the product runs";
  EXPECT_EQ(dir_.Read("log.txt"), "MQT6.exe --stay\n");

  product_->Stop();
  std::this_thread::sleep_for(500ms);
  Click(kOkButton);
  auto code = Ended(60s);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(dir_.Read("log.txt"), "MQT6.exe --stay\nunins000.exe /quiet\n招标工具.exe /quiet\n");
}

} // namespace

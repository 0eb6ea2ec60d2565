// The publisher's side and the client's, end to end: update-publish writes
// the tree, nginx serves it, and the real updater (its window under a
// virtual display, or silent) takes each version as published: version 7
// into an empty tree, 8 over it, a region's own entry, a template. With
// [Security] ManifestSigned=1 throughout, so that the client also takes
// only the publisher's manifests; one altered on the server is refused.
#include "archive/TemplateVersion.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/publish/publish_fixture.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/ShellLinkBytes.h"
#include "tests/support/TestServers.h"
#include "tests/support/UpdateFormPlaces.h"
#include "tests/support/VirtualDisplay.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace publishtest;
using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::kOkButton;
using testsupport::kUpdateButton;
using testsupport::Point;

const char* const kInstall = "c/Program Files/Zorva/招标工具/";
const char* const kStartMenu =
    "c/Documents and Settings/All Users/「开始」菜单/程序/Zorva电子招标工具/";

class PublishRoadTest : public ::testing::Test {
protected:
  PublishRoadTest() : display_(dir_.Utf8("xvfb.log")) {
    dir_.MakeFolder("exe");
    dir_.MakeFolder("tmp");
    dir_.MakeFolder("www");
    std::filesystem::copy_file(UPDATER_UPDATE_PROGRAM, dir_.Utf8("exe/update"));
    key_ = MakeKey(dir_, "publisher");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    dir_.Write(
        "registry.ini",
        Gbk("[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=C:\\Program Files\\Zorva\\招标工具\r\n"));
    dir_.Write(std::string(kInstall) + "version.txt", "6\n");
    dir_.Write(std::string(kInstall) + "MQT6.exe", "");
    dir_.Write(std::string(kInstall) + "unins000.exe",
               "#!/bin/sh\nrm -f '" + dir_.Utf8(kInstall) + "version.txt'\n");
    ::chmod(dir_.Utf8(std::string(kInstall) + "unins000.exe").c_str(), 0700);
    dir_.Write(std::string(kStartMenu) + "卸载 MQT6.exe.lnk",
               testsupport::MakeShellLink(
                   {Gbk("C:\\Program Files\\Zorva\\招标工具\\"), "unins000.exe", false, {}, {}}));
    Configure(6, "");
  }

  // VersionCfg.ini of the installed product, which its installer would
  // keep up to date.
  void Configure(int installed, const std::string& region) {
    std::string text = "[Version]\r\nCurVersion=" + std::to_string(installed) + "\r\n";
    if (!region.empty())
      text += "[" + region + "]\r\nCurVersion=" + std::to_string(installed) + "\r\n";
    text += "[HTTP]\r\nURLUseCDN=" + server_->BaseUrl() +
            "\r\nURLWithnotCDN=" + server_->BaseUrl() +
            "\r\n[Security]\r\nManifestSigned=1\r\nPublicKey=" + key_.publicKey + "\r\n";
    dir_.Write("exe/VersionCfg.ini", Gbk(text));
  }
  // An installer that leaves its version and the product's program in the
  // install folder.
  std::string Installer(int version) {
    const std::string name = "installer-" + std::to_string(version);
    dir_.Write(name, "#!/bin/sh\necho " + std::to_string(version) + " > '" + dir_.Utf8(kInstall) +
                         "version.txt'\n: > '" + dir_.Utf8(kInstall) + "MQT6.exe'\n# " +
                         std::string(50000, 'x') + "\n");
    return dir_.Utf8(name);
  }
  void PublishProgram(int version, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"program",
                                     "--server",
                                     dir_.Utf8("www"),
                                     "--kind",
                                     "招标工具",
                                     "--version",
                                     std::to_string(version),
                                     "--path",
                                     "V" + std::to_string(version),
                                     "--key",
                                     key_.pem};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(Installer(version));
    const TRun run = Publish(dir_, args);
    ASSERT_EQ(run.status, 0) << run.output;
  }

  std::map<std::string, std::optional<std::string>> Environment(bool display) const {
    return {{"DISPLAY", display ? std::optional(display_.Name()) : std::nullopt},
            {"TMPDIR", dir_.Utf8("tmp")},
            {"UPDATE_REGISTRY_FILE", dir_.Utf8("registry.ini")},
            {"UPDATE_DRIVE_C", dir_.Utf8("c")},
            {"LSAN_OPTIONS", "print_suppressions=0:suppressions=" UPDATER_SOURCE_DIR
                             "/tests/app/lsan-suppressions.txt"}};
  }
  void StartWindow() {
    std::filesystem::resize_file(dir_.Utf8("nginx/access.log"), 0);
    program_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{dir_.Utf8("exe/update"), "-ZB"},
                                       Environment(true), dir_.Utf8("output.txt"));
    const auto place = testsupport::FindWindow(display_, "在线升级", 20s);
    ASSERT_TRUE(place.has_value()) << dir_.Read("output.txt");
    place_ = *place;
  }
  // Waits until nginx has logged `times` requests whose lines hold `text`.
  bool ServerSaw(const std::string& text, std::chrono::seconds limit = 20s, int times = 1) {
    if (!server_->Logged(text, limit, times)) return false;
    std::this_thread::sleep_for(500ms); // the window shows the result
    return true;
  }
  void Click(Point p) { testsupport::ClickAt(display_, place_.left + p.x, place_.top + p.y); }
  void Picture(const std::string& state) {
    testsupport::TakeScreenshot(display_, place_,
                                UPDATER_ARTEFACT_DIR "/publish/" + state + ".png");
  }
  // The window's whole road: the offer, the download, the installation.
  // With a region the updater checks twice: silently at the start, then
  // from the window's timer.
  void UpdateThroughTheWindow(const std::string& state, int checks = 1) {
    StartWindow();
    ASSERT_TRUE(ServerSaw("Version.xml.sig", 20s, checks)) << dir_.Read("exe/update.log");
    std::this_thread::sleep_for(1s);
    Picture(state);
    Click(kUpdateButton);
    ASSERT_TRUE(ServerSaw(".exe HTTP/1.1\" 20", 30s)) << dir_.Read("exe/update.log");
    Click(kOkButton);
    const auto code = program_->WaitFor(30s);
    ASSERT_TRUE(code.has_value()) << "the window stayed";
    EXPECT_EQ(*code, 0) << dir_.Read("exe/update.log");
  }
  std::string Installed() const { return dir_.Read(std::string(kInstall) + "version.txt"); }

  testsupport::TempFolder dir_;
  testsupport::VirtualDisplay display_;
  TPublisherKey key_;
  std::unique_ptr<testsupport::NginxServer> server_;
  std::unique_ptr<ChildProcess> program_;
  testsupport::WindowPlace place_{};
};

TEST_F(PublishRoadTest, TheClientTakesEachVersionAsPublished) {
  PublishProgram(7, {"--rollout", "100"});
  UpdateThroughTheWindow("offer-7");
  EXPECT_EQ(Installed(), "7\n");

  Configure(7, "");
  PublishProgram(8);
  UpdateThroughTheWindow("offer-8");
  EXPECT_EQ(Installed(), "8\n");

  // A region's entry beside the default one: the client of that region
  // checks silently first, then offers its own version.
  Configure(8, "上海");
  dir_.Write("exe/Region.ini", Gbk("[Region]\r\nRegion=上海\r\n"));
  PublishProgram(9, {"--region", "上海"});
  UpdateThroughTheWindow("offer-region", 2);
  EXPECT_EQ(Installed(), "9\n");
}

TEST_F(PublishRoadTest, TheClientRefreshesATemplateAsPublished) {
  dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  dir_.Write("exe/招标示范文本/施工招标.sfwb",
             ziptest::BuildZip(ziptest::TwoMembers(), "[Region]\r\nVersion=2\r\n").bytes);
  dir_.Write("new.sfwb", ziptest::BuildZip(ziptest::TwoMembers(), "").bytes);
  const TRun publish =
      Publish(dir_, {"template", "--server", dir_.Utf8("www"), "--kind", "招标示范文本", "--name",
                     "施工招标", "--version", "3", "--path", "T3", "--set-version", "--key",
                     key_.pem, dir_.Utf8("new.sfwb")});
  ASSERT_EQ(publish.status, 0) << publish.output;
  ChildProcess update({dir_.Utf8("exe/update"), "-ZB", "施工招标"}, Environment(false),
                      dir_.Utf8("output.txt"));
  EXPECT_EQ(update.WaitFor(60s), 0) << dir_.Read("output.txt");
  EXPECT_EQ(ReadTemplateVersionText(dir_.Ansi("exe/招标示范文本/施工招标.sfwb")), "3");
}

TEST_F(PublishRoadTest, AManifestAlteredOnTheServerIsRefusedAndNothingIsDownloaded) {
  PublishProgram(7);
  const std::string manifest = "www/" + Gbk("招标工具") + "/Version.xml";
  std::string altered = dir_.Read(manifest);
  altered.replace(altered.find("MustUpdate=\"0\""), 14, "MustUpdate=\"1\"");
  dir_.Write(manifest, altered);

  // The window tells the user, offers nothing and downloads nothing.
  StartWindow();
  ASSERT_TRUE(ServerSaw("Version.xml.sig"));
  std::this_thread::sleep_for(1s);
  Picture("manifest-refused");
  Click(kOkButton);
  auto code = program_->WaitFor(20s);
  ASSERT_TRUE(code.has_value()) << "确定 did not close the window";
  EXPECT_EQ(*code, 1);
  EXPECT_EQ(dir_.Read("nginx/access.log").find(".exe"), std::string::npos);
  EXPECT_NE(dir_.Read("exe/update.log").find("manifest signature=invalid"), std::string::npos);
  EXPECT_EQ(Installed(), "6\n");

  // A silent run ends as a failed check, with the reason on standard error.
  dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  ChildProcess silent({dir_.Utf8("exe/update"), "-ZB"}, Environment(false),
                      dir_.Utf8("silent.txt"));
  EXPECT_EQ(silent.WaitFor(30s), 1);
  EXPECT_EQ(dir_.Read("silent.txt").rfind("更新信息签名无效，已忽略。签名与内容不符。", 0), 0u)
      << dir_.Read("silent.txt");
}

} // namespace

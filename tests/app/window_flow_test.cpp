// The window's states and transitions on its control model, without a
// display: the timer's check, the download with its progress, the install
// prompt and the closing actions.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using enum ControlId;

// A form whose check reports what the test says; nothing it does reaches a
// process the test did not start.
class FlowForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  TCheckResult CheckProductUpdate() override {
    ++checks;
    if (result == TCheckResult::UpdateAvailable) {
      latestVersion = 7;
      mustUpdate = must;
      controls[lblPrompt1].caption = Utf8ToAnsi("检测到新版本V7，是否下载更新？");
    }
    return result;
  }
  std::vector<platform::TProcessEntry> ProcessSnapshot() const override { return processes; }
  void ShowInformationText(const std::string& text) override { informed.push_back(text); }

  TCheckResult result = TCheckResult::UpToDate;
  int32_t must = 0;
  int checks = 0;
  std::vector<platform::TProcessEntry> processes;
  std::vector<std::string> informed;
};

class WindowFlowTest : public ::testing::Test {
protected:
  WindowFlowTest() : tmp_("TMPDIR", dir_.Utf8("tmp").c_str()) {
    dir_.MakeFolder("tmp");
    WriteConfig("http://127.0.0.1:1/");
  }
  void WriteConfig(const std::string& base) {
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + base +
                                         "\r\nURLWithnotCDN=" + base + "\r\n");
  }
  std::unique_ptr<FlowForm> Form() {
    auto form = std::make_unique<FlowForm>(std::vector<std::string>{"-ZB"}, dir_.Ansi("exe/"));
    form->limits.transferMs = 1500;
    return form;
  }
  // Which of the three content panels show.
  static std::string Panels(const TFormControls& c) {
    return std::string(c[pnl1].visible ? "1" : "") + (c[pnl2].visible ? "2" : "") +
           (c[pnl3].visible ? "3" : "");
  }
  static void ExpectOkButton(const TFormControls& c, ActionId action) {
    EXPECT_EQ(c[btnOK].action, action);
    EXPECT_EQ(c[btnOK].caption, Utf8ToAnsi("确定"));
  }

  testsupport::TempFolder dir_;
  testsupport::ScopedEnv tmp_;
};

TEST_F(WindowFlowTest, TimerTickShowsTheCheckResultOnce) {
  struct Case {
    const char* what;
    TCheckResult result;
    int32_t must;
    std::string panels;
    bool later;
    const char* prompt3;
  } cases[] = {
      {"up to date", TCheckResult::UpToDate, 0, "3", true, "当前已是最新版本，无需升级。"},
      {"network error", TCheckResult::CheckFailed, 0, "3", true, "网络连接出错，无法检测更新。"},
      {"offer", TCheckResult::UpdateAvailable, 0, "1", true, "当前已是最新版本，无需升级。"},
      {"mandatory offer", TCheckResult::UpdateAvailable, 1, "1", false,
       "当前已是最新版本，无需升级。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto form = Form();
    form->result = c.result;
    form->must = c.must;
    ASSERT_TRUE(form->controls.tmUpdate.enabled);
    EXPECT_EQ(Panels(form->controls), "2");
    form->tmUpdateTimer();
    const TFormControls& ctl = form->controls;
    EXPECT_FALSE(ctl.tmUpdate.enabled); // never a second tick
    EXPECT_EQ(form->checks, 1);
    EXPECT_EQ(Panels(ctl), c.panels);
    EXPECT_EQ(ctl[btnLater].visible, c.later);
    EXPECT_EQ(ctl[btnUpdate].caption, Utf8ToAnsi("立即更新"));
    EXPECT_EQ(ctl[lblPrompt3].caption, Utf8ToAnsi(c.prompt3));
    if (c.panels == "3") ExpectOkButton(ctl, ActionId::acClose);
    EXPECT_EQ(ctl.clientHeight, 270);
    EXPECT_FALSE(ctl.CaptionShows(pnlMain));
  }
}

TEST_F(WindowFlowTest, ClosingActionsCloseTheWindow) {
  for (ActionId action : {ActionId::acLater, ActionId::acClose}) {
    auto form = Form();
    form->ExecuteAction(action);
    EXPECT_TRUE(form->Closed());
  }
  auto form = Form();
  form->imgCloseClick();
  EXPECT_TRUE(form->Closed());
}

TEST_F(WindowFlowTest, CompleteDownloadLeadsToTheInstallPrompt) {
  dir_.Write("package.bin", std::string(250000, 'p'));
  testsupport::FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), "normal");
  WriteConfig(server.BaseUrl());
  auto form = Form();
  form->result = TCheckResult::UpdateAvailable;
  form->tmUpdateTimer();
  form->packagePath = "V7";
  form->ExecuteAction(form->controls[btnUpdate].action);
  const TFormControls& c = form->controls;
  EXPECT_EQ(Panels(c), "3");
  EXPECT_EQ(c[lblPrompt3].caption,
            Utf8ToAnsi("新版本下载完成，请先关闭招标工具后，点击确定进行安装。"));
  ExpectOkButton(c, ActionId::acInstall);
  EXPECT_EQ(c[pbUpdate].position, 100);
  EXPECT_TRUE(c[pbUpdate].visible);
  EXPECT_FALSE(c[lblShow].visible);
  EXPECT_EQ(c[lblPrompt2].caption, Utf8ToAnsi("正在下载更新. . ."));
  EXPECT_FALSE(form->Closed());

  // "确定" while the product runs: the refusal, and the window as it was.
  form->processes = {{4242, 1, "MQT6.exe", "C:\\Zorva\\MQT6.exe"}};
  const std::string prompt = c[lblPrompt3].caption;
  form->ExecuteAction(c[btnOK].action);
  EXPECT_EQ(form->informed.size(), 1u);
  EXPECT_EQ(Panels(c), "3");
  EXPECT_EQ(c[lblPrompt3].caption, prompt);
  ExpectOkButton(c, ActionId::acInstall);
  EXPECT_FALSE(form->Closed());
}

TEST_F(WindowFlowTest, IncompleteOrFailedDownloadStaysOnTheProgressPanel) {
  dir_.Write("package.bin", std::string(250000, 'p'));
  for (const char* mode : {"no-length", "status"}) {
    SCOPED_TRACE(mode);
    testsupport::FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("server"), mode, 500);
    WriteConfig(server.BaseUrl());
    auto form = Form();
    form->result = TCheckResult::UpdateAvailable;
    form->tmUpdateTimer();
    form->packagePath = "V7";
    if (std::string(mode) == "status")
      EXPECT_THROW(form->acUpdateExecute(), platform::EHttpError);
    else
      form->acUpdateExecute();
    EXPECT_EQ(Panels(form->controls), "2");
    EXPECT_EQ(form->controls[lblPrompt2].caption, Utf8ToAnsi("正在下载更新. . ."));
    EXPECT_TRUE(form->controls[pbUpdate].visible);
    EXPECT_FALSE(form->Closed());
  }
}

} // namespace

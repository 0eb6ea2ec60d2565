// Start-up of the update window: the run mode, the region, the values derived
// from the product kind, the update URLs, the install and working folders,
// and what FormCreate does for each combination of configuration files.
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ScopedEnv;

// Arguments as the program hands them over: ANSI.
std::vector<std::string> Args(std::initializer_list<const char*> utf8) {
  std::vector<std::string> args;
  for (const char* a : utf8)
    args.push_back(Utf8ToAnsi(a));
  return args;
}

// A configuration folder beside a (pretend) executable. Files are written in
// GBK, as the real configuration files are.
class StartupTest : public ::testing::Test {
protected:
  void WriteAnsi(const std::string& name, const std::string& utf8Text) {
    exe_.Write(name, Utf8ToAnsi(utf8Text));
  }
  void WriteConfig(const std::string& utf8Text = "[Version]\r\nCurVersion=1\r\n") {
    WriteAnsi("VersionCfg.ini", utf8Text);
  }
  TUpdateForm Form(std::vector<std::string> args) {
    return TUpdateForm(std::move(args), exe_.Ansi());
  }

  testsupport::TempFolder exe_;
};

// ---------------------------------------------------------------------------
// Construction

TEST_F(StartupTest, WithoutConfigTheWindowKeepsItsFullHeightAndShowsOnlyTheErrorCaption) {
  for (auto args : {Args({"-ZB"}), Args({"-ZB", "模板"})}) {
    TUpdateForm form(args, exe_.Ansi());
    const TFormControls& c = form.controls;
    EXPECT_EQ(c.clientHeight, 640);
    EXPECT_EQ(c.clientWidth, 424);
    EXPECT_FALSE(c[ControlId::pnl1].visible);
    EXPECT_FALSE(c[ControlId::pnl2].visible);
    EXPECT_FALSE(c[ControlId::pnl3].visible);
    EXPECT_TRUE(c.CaptionShows(ControlId::pnlMain));
    EXPECT_EQ(c[ControlId::pnlMain].caption, Utf8ToAnsi("出错了，重装程序可能解决问题。"));
    EXPECT_FALSE(c.tmUpdate.enabled);
    EXPECT_EQ(form.configFile, exe_.Ansi("VersionCfg.ini"));
  }
}

TEST_F(StartupTest, WithConfigTheWindowShrinksAndShowsTheCheckingPanel) {
  WriteConfig();
  TUpdateForm form = Form(Args({"-ZB"}));
  const TFormControls& c = form.controls;
  EXPECT_EQ(c.clientHeight, 270);
  EXPECT_TRUE(c[ControlId::pnl2].visible);
  EXPECT_FALSE(c[ControlId::pnl1].visible);
  EXPECT_FALSE(c[ControlId::pnl3].visible);
  EXPECT_EQ(c[ControlId::lblPrompt2].caption, Utf8ToAnsi("正在检测更新. . ."));
  EXPECT_FALSE(c.CaptionShows(ControlId::pnlMain));
  EXPECT_TRUE(c.tmUpdate.enabled);
  EXPECT_EQ(c.tmUpdate.intervalMs, 2000);
}

TEST_F(StartupTest, SecondArgumentDecidesTheModeAfterTrimmingButIsKeptAsGiven) {
  WriteConfig();
  struct Case {
    std::vector<std::string> args;
    bool sampleText;
  } cases[] = {
      {Args({"-ZB"}), false},
      {Args({}), false},
      {Args({"-ZB", ""}), false},
      {Args({"-ZB", "  \t "}), false},
      {{Utf8ToAnsi("-ZB"), std::string("\x01\r\n ", 4)}, false},
      {Args({"-ZB", " 施工招标 "}), true},
      {Args({"-ZB", "x"}), true},
  };
  for (const Case& c : cases) {
    TUpdateForm form = Form(c.args);
    std::string shown = c.args.size() > 1 ? c.args[1] : "";
    SCOPED_TRACE("second argument [" + shown + "]");
    EXPECT_EQ(form.IsSampleTextMode(), c.sampleText);
    EXPECT_EQ(form.controls.tmUpdate.enabled, !c.sampleText);
    EXPECT_EQ(form.TemplateArgument(), shown);
  }
}

// ---------------------------------------------------------------------------
// FormCreate, driven with check outcomes of our choosing

class FakeChecksForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;

  TCheckResult CheckProductUpdate() override {
    ++productChecks;
    return productResult;
  }
  TCheckResult CheckTemplateUpdate() override {
    ++templateChecks;
    // What the template check leaves for the copy.
    templateName = foundTemplateName;
    localTemplatePath = installedTemplatePath;
    return templateResult;
  }
  bool DownloadTemplate() override {
    ++downloads;
    if (downloadThrows) throw Exception(Utf8ToAnsi("下载失败"));
    return downloadComplete;
  }

  TCheckResult productResult = TCheckResult::CheckFailed;
  TCheckResult templateResult = TCheckResult::CheckFailed;
  bool downloadComplete = false;
  bool downloadThrows = false;
  std::string foundTemplateName;
  std::string installedTemplatePath;
  int productChecks = 0, templateChecks = 0, downloads = 0;
};

class FormCreateTest : public StartupTest {
protected:
  FormCreateTest() : tmpDir_("TMPDIR", temp_.Utf8().c_str()) {}

  testsupport::TempFolder temp_; // the system's temporary folder for the working folder
  ScopedEnv tmpDir_;
};

TEST_F(FormCreateTest, ConfigWithoutRegionFilesLeavesTheCheckToTheTimer) {
  WriteConfig();
  for (auto args : {Args({"-ZB"}), Args({"-ZB", "模板"})}) {
    FakeChecksForm form(args, exe_.Ansi());
    form.FormCreate();
    EXPECT_EQ(form.productChecks + form.templateChecks, 0);
    EXPECT_FALSE(form.EndRequested());
    EXPECT_TRUE(form.regionName.empty());
    EXPECT_EQ(form.controls.clientHeight, 270);
    EXPECT_TRUE(form.controls[ControlId::pnl2].visible);
    // Only program-update mode has a timer to run the check.
    EXPECT_EQ(form.controls.tmUpdate.enabled, !form.IsSampleTextMode());
  }
}

TEST_F(FormCreateTest, SilentProductCheckEndsTheRunUnlessAnUpdateIsAvailable) {
  WriteConfig();
  WriteAnsi("Region.ini", "[Region]\r\nRegion=北京\r\n");
  struct Case {
    TCheckResult result;
    bool ends;
  } cases[] = {{TCheckResult::CheckFailed, true},
               {TCheckResult::UpToDate, true},
               {TCheckResult::UpdateAvailable, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.result));
    FakeChecksForm form(Args({"-ZB", "   "}), exe_.Ansi());
    form.productResult = c.result;
    form.FormCreate();
    EXPECT_EQ(form.productChecks, 1);
    EXPECT_EQ(form.templateChecks, 0);
    EXPECT_EQ(form.EndRequested(), c.ends);
    EXPECT_EQ(form.regionName, Utf8ToAnsi("北京"));
    // An available update is shown in the checking window, and the timer
    // repeats the check there.
    EXPECT_TRUE(form.controls[ControlId::pnl2].visible);
    EXPECT_TRUE(form.controls.tmUpdate.enabled);
  }
}

TEST_F(FormCreateTest, TemplateRefreshCopiesOnlyACompleteDownloadAndAlwaysEnds) {
  WriteConfig();
  exe_.Write("SH.ini", "");
  exe_.MakeFolder("招标示范文本");
  struct Case {
    TCheckResult result;
    bool complete;
    int downloads;
    bool copied;
  } cases[] = {
      {TCheckResult::CheckFailed, true, 0, false},
      {TCheckResult::UpToDate, true, 0, false},
      {TCheckResult::UpdateAvailable, false, 1, false},
      {TCheckResult::UpdateAvailable, true, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.result)) + (c.complete ? " complete" : ""));
    exe_.Write("招标示范文本/施工.sfwb", "old");
    FakeChecksForm form(Args({"-ZB", "施工"}), exe_.Ansi());
    form.templateResult = c.result;
    form.downloadComplete = c.complete;
    form.foundTemplateName = Utf8ToAnsi("施工");
    form.installedTemplatePath = exe_.Ansi("招标示范文本/施工.sfwb");
    temp_.Write("MQTUpdate/施工.sfwb", "new");

    form.FormCreate();
    EXPECT_EQ(form.regionName, Utf8ToAnsi("上海"));
    EXPECT_EQ(form.productChecks, 0);
    EXPECT_EQ(form.templateChecks, 1);
    EXPECT_EQ(form.downloads, c.downloads);
    EXPECT_TRUE(form.EndRequested());
    EXPECT_EQ(exe_.Read("招标示范文本/施工.sfwb"), c.copied ? "new" : "old");
  }
}

TEST_F(FormCreateTest, FailedTemplateCopyEndsTheRunWithAnError) {
  WriteConfig();
  exe_.Write("Region.ini", "");
  FakeChecksForm form(Args({"-ZB", "施工"}), exe_.Ansi());
  form.templateResult = TCheckResult::UpdateAvailable;
  form.downloadComplete = true;
  form.foundTemplateName = Utf8ToAnsi("施工");
  // The sample-text folder is missing, so the copy cannot succeed.
  form.installedTemplatePath = exe_.Ansi("招标示范文本/施工.sfwb");
  temp_.Write("MQTUpdate/施工.sfwb", "new");
  form.FormCreate();
  EXPECT_TRUE(form.EndRequested());
  EXPECT_EQ(form.ExitStatus(), TExitStatus::Error);
  EXPECT_FALSE(exe_.Exists("招标示范文本/施工.sfwb"));
}

TEST_F(FormCreateTest, TemplateDownloadErrorReachesTheCallerWithoutEndingTheRun) {
  WriteConfig();
  exe_.Write("Region.ini", "");
  exe_.Write("招标示范文本/施工.sfwb", "old");
  FakeChecksForm form(Args({"-ZB", "施工"}), exe_.Ansi());
  form.templateResult = TCheckResult::UpdateAvailable;
  form.downloadThrows = true;
  form.foundTemplateName = Utf8ToAnsi("施工");
  form.installedTemplatePath = exe_.Ansi("招标示范文本/施工.sfwb");
  EXPECT_THROW(form.FormCreate(), Exception);
  EXPECT_FALSE(form.EndRequested());
  EXPECT_EQ(exe_.Read("招标示范文本/施工.sfwb"), "old");
  // The window then shows the checking panel, without a timer.
  EXPECT_TRUE(form.controls[ControlId::pnl2].visible);
  EXPECT_FALSE(form.controls.tmUpdate.enabled);
}

TEST_F(FormCreateTest, WithoutConfigOrRegionFilesNothingRunsAndTheErrorWindowShows) {
  for (auto args : {Args({"-ZB"}), Args({"-ZB", "施工"})}) {
    FakeChecksForm form(args, exe_.Ansi());
    form.FormCreate();
    EXPECT_EQ(form.productChecks + form.templateChecks, 0);
    EXPECT_FALSE(form.EndRequested());
    EXPECT_EQ(form.controls.clientHeight, 640);
  }
}

TEST_F(FormCreateTest, WithoutConfigTheSilentCheckFailsAndEndsTheRun) {
  exe_.Write("Region.ini", "[Region]\r\nRegion=1\r\n");
  // The check of the program itself: without a configuration there is no
  // server address, so it cannot succeed.
  TUpdateForm form(Args({"-ZB"}), exe_.Ansi());
  EXPECT_EQ(form.CheckProductUpdate(), TCheckResult::CheckFailed);
  form.FormCreate();
  EXPECT_TRUE(form.EndRequested());
  EXPECT_FALSE(form.Closed());
}

// ---------------------------------------------------------------------------
// Region

TEST_F(StartupTest, RegionComesFromRegionIniBeforeShIni) {
  struct Case {
    const char* regionIni; // nullptr: no file
    bool shIni;
    const char* region;
  } cases[] = {
      {nullptr, false, ""},
      {nullptr, true, "上海"},
      {"[Region]\r\nRegion=北京\r\n", true, "北京"},
      {"[Region]\r\nRegion=北京\r\n", false, "北京"},
      {"[Region]\r\nOther=1\r\n", true, "0"},
      {"", false, "0"},
      {"[region]\r\n  REGION =  广东 \r\n", false, "广东"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.regionIni ? c.regionIni : "(none)") + (c.shIni ? " + SH.ini" : ""));
    std::filesystem::remove(exe_.Utf8("Region.ini"));
    std::filesystem::remove(exe_.Utf8("SH.ini"));
    if (c.regionIni) WriteAnsi("Region.ini", c.regionIni);
    if (c.shIni) exe_.Write("SH.ini", "");
    // No configuration: the silent check, if any, fails at once.
    TUpdateForm form(Args({"-ZB"}), exe_.Ansi());
    form.FormCreate();
    EXPECT_EQ(form.regionName, Utf8ToAnsi(c.region));
  }
}

// ---------------------------------------------------------------------------
// Product kind and what derives from it

TEST_F(StartupTest, ProductKindFollowsTheFirstArgumentThenTenderKind) {
  struct Case {
    std::vector<std::string> args;
    const char* tenderKind; // nullptr: no key
    const char* product;
    const char* sampleText;
    const char* exeName;
  } cases[] = {
      {Args({"-ZB"}), "投标工具", "招标工具", "招标示范文本", "MQT6.exe"},
      {Args({"-zb"}), nullptr, "招标工具", "招标示范文本", "MQT6.exe"},
      {Args({"-TB"}), "招标工具", "投标工具", "投标示范文本", "MQV6.exe"},
      {Args({"-tB", "施工"}), nullptr, "投标工具", "投标示范文本", "MQV6.exe"},
      {Args({"-ZBx"}), "投标工具", "投标工具", "投标示范文本", "MQV6.exe"},
      {Args({" -ZB"}), "招标工具", "招标工具", "招标示范文本", "MQT6.exe"},
      {Args({"ZB"}), nullptr, "", "", ""},
      {Args({}), "招标工具", "招标工具", "招标示范文本", "MQT6.exe"},
      {Args({}), "", "", "", ""},
      {Args({}), nullptr, "", "", ""},
      {Args({}), "其他工具", "其他工具", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.args.empty() ? "(none)" : c.args[0]) + " / " +
                 (c.tenderKind ? c.tenderKind : "(no key)"));
    WriteConfig(c.tenderKind ? std::string("[Version]\r\nTenderKind=") + c.tenderKind + "\r\n"
                             : "[Version]\r\n");
    TUpdateForm form = Form(c.args);
    EXPECT_EQ(form.GetProductKind(), Utf8ToAnsi(c.product));
    EXPECT_EQ(form.GetSampleTextKind(), Utf8ToAnsi(c.sampleText));
    EXPECT_EQ(form.GetProductExeName(), c.exeName);
  }
}

TEST_F(StartupTest, UrlsJoinBaseKindFolderAndFileName) {
  // The base stands as configured; what is appended is percent-encoded
  // byte for byte (GBK bytes too), all but the unreserved characters.
  WriteConfig(
      "[Version]\r\nTenderKind=投标工具\r\n[HTTP]\r\nURLUseCDN=http://cdn.example/u%20x/\r\n"
      "URLWithnotCDN=http://origin.example/u/\r\n");
  TUpdateForm zb = Form(Args({"-ZB"}));
  const std::string zbKind = Utf8ToAnsi("招标工具");
  const std::string zbKindInUrl = "%D5%D0%B1%EA%B9%A4%BE%DF";
  EXPECT_EQ(zb.BuildProductUrl(false, "Version.xml", ""),
            "http://origin.example/u/" + zbKindInUrl + "/Version.xml");
  EXPECT_EQ(zb.BuildProductUrl(true, "V7", zbKind + ".exe"),
            "http://cdn.example/u%20x/" + zbKindInUrl + "/V7/" + zbKindInUrl + ".exe");
  EXPECT_EQ(zb.BuildProductUrl(false, "", ""), "http://origin.example/u/" + zbKindInUrl);
  EXPECT_EQ(zb.BuildProductUrl(true, "", "a.exe"),
            "http://cdn.example/u%20x/" + zbKindInUrl + "/a.exe");

  const std::string sampleInUrl = "%D5%D0%B1%EA%CA%BE%B7%B6%CE%C4%B1%BE";
  EXPECT_EQ(zb.BuildSampleTextUrl(false, "Version.xml", ""),
            "http://origin.example/u/" + sampleInUrl + "/Version.xml");
  const struct {
    const char* folder;
    const char* name;
    const char* path; // after the kind
  } segments[] = {
      {"T/3", "施工 招标.sfwb", "/T%2F3/%CA%A9%B9%A4%20%D5%D0%B1%EA.sfwb"},
      {"v1.0_rc~2", "a-b", "/v1.0_rc~2/a-b"},
      {"%41", "#?+&;=@:!$'()*,[]", "/%2541/%23%3F%2B%26%3B%3D%40%3A%21%24%27%28%29%2A%2C%5B%5D"},
      {"乗", "嘰.sfwb", "/%81%5C/%87%5C.sfwb"},
  };
  for (const auto& s : segments)
    EXPECT_EQ(zb.BuildSampleTextUrl(true, Utf8ToAnsi(s.folder), Utf8ToAnsi(s.name)),
              "http://cdn.example/u%20x/" + sampleInUrl + s.path);

  // Without an argument the configured product picks the folders.
  TUpdateForm configured = Form(Args({}));
  EXPECT_EQ(configured.BuildSampleTextUrl(false, "Version.xml", ""),
            "http://origin.example/u/%CD%B6%B1%EA%CA%BE%B7%B6%CE%C4%B1%BE/Version.xml");
}

TEST_F(StartupTest, UrlsWithEmptyPartsKeepTheirSeparators) {
  WriteConfig("[Version]\r\nTenderKind=\r\n[HTTP]\r\nURLWithnotCDN=http://h/\r\n");
  TUpdateForm form = Form(Args({}));
  EXPECT_EQ(form.BuildProductUrl(false, "Version.xml", ""), "http://h//Version.xml");
  EXPECT_EQ(form.BuildSampleTextUrl(false, "Version.xml", ""), "http://h//Version.xml");
  // No CDN base configured: the URL starts with the kind.
  EXPECT_EQ(form.BuildProductUrl(true, "", ""), "");

  TUpdateForm noConfigAtAll(Args({"-TB"}), exe_.Ansi("missing/"));
  EXPECT_EQ(noConfigAtAll.BuildProductUrl(false, "Version.xml", ""),
            "%CD%B6%B1%EA%B9%A4%BE%DF/Version.xml");
}

// ---------------------------------------------------------------------------
// Install folder from the registry file

class InstallFolderTest : public StartupTest {
protected:
  InstallFolderTest()
      : registry_("UPDATE_REGISTRY_FILE", regFolder_.Utf8("registry.ini").c_str()) {}

  void WriteRegistry(const std::string& utf8Text) {
    regFolder_.Write("registry.ini", Utf8ToAnsi(utf8Text));
  }

  testsupport::TempFolder regFolder_;
  ScopedEnv registry_;
};

TEST_F(InstallFolderTest, ValueGetsExactlyOneTrailingDelimiter) {
  WriteRegistry("[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=/opt/招标\r\nTBPath=/opt/投标/\r\n"
                "@=/opt/default\r\n");
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), Utf8ToAnsi("/opt/招标/"));
  EXPECT_EQ(Form(Args({"-TB"})).GetInstallFolder(), Utf8ToAnsi("/opt/投标/"));
  // An unknown product reads the key's unnamed value.
  EXPECT_EQ(Form(Args({})).GetInstallFolder(), "/opt/default/");
}

TEST_F(InstallFolderTest, MissingValueGivesALoneDelimiter) {
  WriteRegistry("[SOFTWARE\\Zorva编标工具\\6.0]\r\nTBPath=/opt/tb\r\n");
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), "/");
  WriteRegistry("[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=\r\n");
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), "/");
}

TEST_F(InstallFolderTest, MissingKeyOrFileGivesAnEmptyFolder) {
  WriteRegistry("[SOFTWARE\\Zorva编标工具\\5.0]\r\nZBPath=/opt/zb\r\n");
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), "");
  std::filesystem::remove(regFolder_.Utf8("registry.ini"));
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), "");
}

TEST_F(InstallFolderTest, WindowsDrivePathIsMappedToItsFolder) {
  testsupport::TempFolder drive;
  ScopedEnv driveC("UPDATE_DRIVE_C", drive.Utf8().c_str());
  WriteRegistry("[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=C:\\Program Files\\招标\r\n");
  EXPECT_EQ(Form(Args({"-ZB"})).GetInstallFolder(), drive.Ansi("Program Files/招标/"));
}

// ---------------------------------------------------------------------------
// Working folder

TEST_F(StartupTest, WorkingFolderIsCreatedPrivateInTheTemporaryFolder) {
  testsupport::TempFolder temp;
  ScopedEnv tmpDir("TMPDIR", temp.Utf8("deeper/tmp").c_str());
  TUpdateForm form = Form(Args({"-ZB"}));
  const std::string folder = form.GetWorkingFolder();
  EXPECT_EQ(folder, temp.Ansi("deeper/tmp/MQTUpdate/"));
  struct stat st {};
  ASSERT_EQ(::stat(temp.Utf8("deeper/tmp/MQTUpdate").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Deleted between two calls, it is created again.
  std::filesystem::remove(temp.Utf8("deeper/tmp/MQTUpdate"));
  EXPECT_EQ(form.GetWorkingFolder(), folder);
  EXPECT_TRUE(temp.Exists("deeper/tmp/MQTUpdate"));
}

TEST_F(StartupTest, WorkingFolderThatIsASymbolicLinkIsRefused) {
  testsupport::TempFolder temp;
  temp.MakeFolder("elsewhere");
  std::filesystem::create_directory_symlink(temp.Utf8("elsewhere"), temp.Utf8("MQTUpdate"));
  ScopedEnv tmpDir("TMPDIR", temp.Utf8().c_str());
  TUpdateForm form = Form(Args({"-ZB"}));
  EXPECT_THROW(form.GetWorkingFolder(), Exception);
}

} // namespace

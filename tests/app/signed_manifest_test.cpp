// Signed manifests on the control model, against nginx: with
// [Security] ManifestSigned=1 a manifest that is not exactly what its
// publisher signed, or has expired, changes nothing in the window. Without
// the key the same manifest is taken as before.
#include "app/UpdateForm.h"
#include "common/IntegrityText.h"
#include "common/ManifestSignature.h"
#include "platform/CodePage.h"
#include "platform/Crypto.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using enum ControlId;

// A form that records whether it went looking for the product's processes
// (what a mandatory offer does first) instead of touching any.
class RecordingForm : public TUpdateForm {
public:
  using TUpdateForm::TUpdateForm;
  std::vector<platform::TProcessEntry> ProcessSnapshot() const override {
    ++snapshots;
    return {};
  }
  mutable int snapshots = 0;
};

const platform::TEd25519Seed kPublisher{7, 7, 7};
const platform::TEd25519Seed kStranger{8, 8, 8};

std::string Sign(const platform::TEd25519Seed& seed, const std::string& bytes) {
  return Base64Text(platform::SignEd25519(seed, bytes)) + "\n";
}

std::string Manifest(int64_t expires, const std::string& must, const std::string& extraNote = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Versions Expires=\"" + UtcTimeText(expires) +
         "\">\n"
         "  <Version Name=\"\" Version=\"7\" VersionPath=\"V7\" MustUpdate=\"" +
         must + "\">\n    <Detail 明细=\"1. 新增电子标书一键导出。\"/>\n" + extraNote +
         "  </Version>\n</Versions>\n";
}

class SignedManifestTest : public ::testing::Test {
protected:
  SignedManifestTest() : tmp_("TMPDIR", dir_.Utf8("tmp").c_str()) {
    dir_.MakeFolder("tmp");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
  }
  void Configure(bool manifestSigned) {
    const std::string base = server_->BaseUrl();
    dir_.Write("exe/VersionCfg.ini",
               "[Version]\r\nCurVersion=6\r\n[HTTP]\r\nURLUseCDN=" + base +
                   "\r\nURLWithnotCDN=" + base + "\r\n[Security]\r\nPublicKey=" +
                   Base64Text(platform::TEd25519Signer(kPublisher).PublicKey()) +
                   (manifestSigned ? "\r\nManifestSigned=1\r\n" : "\r\n"));
  }
  void Serve(const std::string& folder, const std::string& manifest,
             const std::optional<std::string>& signature) {
    const std::string path = "www/" + Utf8ToAnsi(folder) + "/Version.xml";
    dir_.Write(path, manifest);
    std::filesystem::remove(dir_.Utf8(path + ".sig"));
    if (signature) dir_.Write(path + ".sig", *signature);
  }

  testsupport::TempFolder dir_;
  testsupport::ScopedEnv tmp_;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(SignedManifestTest, ATamperedMissingWronglySignedOrExpiredManifestChangesNothing) {
  const int64_t now = UtcNow();
  const std::string good = Manifest(now + 30 * 86400, "0");
  const std::string flipped = Manifest(now + 30 * 86400, "1");
  const std::string added =
      Manifest(now + 30 * 86400, "0", "    <Detail 明细=\"详情见 http://evil.example/\"/>\n");
  const std::string expired = Manifest(now - 3 * 86400, "0");
  struct Case {
    const char* what;
    std::string manifest;
    std::optional<std::string> signature;
    const char* verdict;
  };
  const Case refused[] = {
      {"a flipped MustUpdate", flipped, Sign(kPublisher, good), "invalid"},
      {"an added release note", added, Sign(kPublisher, good), "invalid"},
      {"no signature file", good, std::nullopt, "missing"},
      {"a stranger's signature", good, Sign(kStranger, good), "invalid"},
      {"expired three days ago", expired, Sign(kPublisher, expired), "expired"},
  };
  Configure(true);
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    Serve("招标工具", c.manifest, c.signature);
    RecordingForm form({"-ZB"}, dir_.Ansi("exe/"));
    const TFormControls before = form.controls;
    form.tmUpdateTimer();
    EXPECT_TRUE(form.manifestRefused);
    EXPECT_FALSE(form.controls[pnl1].visible);
    EXPECT_TRUE(form.controls[pnl3].visible);
    EXPECT_EQ(form.controls[lblPrompt3].caption, Utf8ToAnsi("更新信息签名无效，已忽略。"));
    EXPECT_EQ(form.controls[mmo1].lines, before[mmo1].lines);
    EXPECT_EQ(form.controls[lblPrompt1].caption, before[lblPrompt1].caption);
    EXPECT_EQ(form.snapshots, 0) << "a refused manifest closed the product";
    EXPECT_EQ(form.ExitStatus(), TExitStatus::Error);
    EXPECT_EQ(form.lastCheckError.rfind(Utf8ToAnsi("更新信息签名无效，已忽略。"), 0), 0u);
    EXPECT_NE(dir_.Read("exe/update.log").find(std::string("manifest signature=") + c.verdict),
              std::string::npos);
  }

  // The publisher's own manifest is offered; without ManifestSigned even the
  // tampered one is taken, signature or none, as before.
  Serve("招标工具", good, Sign(kPublisher, good));
  RecordingForm accepted({"-ZB"}, dir_.Ansi("exe/"));
  accepted.tmUpdateTimer();
  EXPECT_TRUE(accepted.controls[pnl1].visible);
  EXPECT_EQ(accepted.ExitStatus(), TExitStatus::Ok);

  Configure(false);
  Serve("招标工具", flipped, std::nullopt);
  RecordingForm unsigned_({"-ZB"}, dir_.Ansi("exe/"));
  unsigned_.tmUpdateTimer();
  EXPECT_TRUE(unsigned_.controls[pnl1].visible);
  EXPECT_EQ(unsigned_.mustUpdate, 1);
  EXPECT_GT(unsigned_.snapshots, 0);
  EXPECT_EQ(testsupport::ReadFile(dir_.Utf8("nginx/access.log")).find(".exe"), std::string::npos);
}

TEST_F(SignedManifestTest, TemplateManifestsAreCheckedAlikeAndABadKeyRefusesEveryOne) {
  Configure(true);
  const std::string manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<T Expires=\"" +
                               UtcTimeText(UtcNow() + 86400) +
                               "\"><E Name=\"施工招标\" Version=\"3\" VersionPath=\"T3\"/></T>\n";
  const auto check = [&] {
    TUpdateForm form({"-ZB", Utf8ToAnsi("施工招标")}, dir_.Ansi("exe/"));
    const TCheckResult result = form.CheckTemplateUpdate();
    return std::pair{result, form.manifestRefused};
  };
  Serve("招标示范文本", manifest, Sign(kPublisher, manifest));
  EXPECT_EQ(check(), std::pair(TCheckResult::UpdateAvailable, false));
  Serve("招标示范文本", manifest, Sign(kStranger, manifest));
  EXPECT_EQ(check(), std::pair(TCheckResult::CheckFailed, true));
  // A key that is no key refuses every manifest.
  dir_.Write("exe/VersionCfg.ini", "[HTTP]\r\nURLWithnotCDN=" + server_->BaseUrl() +
                                       "\r\n[Security]\r\nManifestSigned=1\r\nPublicKey=abc\r\n");
  Serve("招标示范文本", manifest, Sign(kPublisher, manifest));
  EXPECT_EQ(check(), std::pair(TCheckResult::CheckFailed, true));
}

} // namespace

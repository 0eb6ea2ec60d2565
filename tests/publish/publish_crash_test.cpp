// A publish killed with SIGKILL at random moments: whatever moment it dies,
// a client must find the old version or the new one, each whole: a manifest
// whose signature holds, naming a package that is there with its digest and
// signature. A publish run again afterwards must complete.
//   UPDATER_TORTURE_SEED  seed of the kill moments (default 2022), to replay
#include "tests/publish/publish_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>

namespace {

using namespace publishtest;

constexpr int kKills = 10;

class PublishCrashTest : public ::testing::Test {
protected:
  PublishCrashTest() {
    const char* seed = std::getenv("UPDATER_TORTURE_SEED");
    seed_ = seed ? static_cast<unsigned>(std::atoi(seed)) : 2022u;
    std::mt19937 random(seed_);
    std::string v8(64 << 20, '\0');
    for (char& c : v8)
      c = static_cast<char>(random());
    dir_.Write("v7.exe", "version 7");
    dir_.Write("v8.exe", v8);
    key_ = MakeKey(dir_, "publisher");
  }
  std::vector<std::string> Args(const std::string& version, const std::string& installer) {
    return {UPDATER_PUBLISH_PROGRAM,
            "program",
            "--server",
            dir_.Utf8("www"),
            "--kind",
            "招标工具",
            "--version",
            version,
            "--path",
            "V" + version,
            "--key",
            key_.pem,
            dir_.Utf8(installer)};
  }
  // The version a client finds in the tree, after checking that it is
  // whole; 0 when it is not.
  int ClientVersion() {
    const std::string kind = Gbk("招标工具");
    const std::string manifest = dir_.Read("www/" + kind + "/Version.xml");
    const std::string signatures = dir_.Read("www/" + kind + "/Version.xml.sig");
    const TManifestCheck check = VerifyManifest(manifest, signatures, key_.publicKey, UtcNow());
    EXPECT_EQ(check.verdict, TManifestVerdict::Valid) << ManifestVerdictName(check.verdict);
    const std::optional<TManifestEntry> entry = ClientEntry(manifest, "");
    if (!entry || check.verdict != TManifestVerdict::Valid) return 0;
    const std::string package =
        dir_.Read("www/" + kind + "/" + entry->versionPath + "/" + kind + ".exe");
    EXPECT_EQ(Sha256Hex(package), entry->sha256.value_or(""));
    platform::TEd25519Verifier verifier(
        *ParsePublicKeyText(key_.publicKey),
        ParseSignatureText(entry->signature.value_or("")).value_or(platform::TEd25519Signature{}));
    verifier.Update(package.data(), package.size());
    EXPECT_TRUE(verifier.Verify());
    // A package that is in place is whole, named or not yet.
    if (dir_.Exists("www/" + kind + "/V8/" + kind + ".exe")) {
      EXPECT_EQ(dir_.Read("www/" + kind + "/V8/" + kind + ".exe"), dir_.Read("v8.exe"));
    }
    return entry->version;
  }
  void RestoreOldTree() {
    std::filesystem::remove_all(dir_.Utf8("www"));
    std::filesystem::copy(dir_.Utf8("www-old"), dir_.Utf8("www"),
                          std::filesystem::copy_options::recursive);
  }

  testsupport::TempFolder dir_;
  unsigned seed_ = 0;
  TPublisherKey key_;
};

TEST_F(PublishCrashTest, AKilledPublishLeavesTheOldVersionOrTheNewOneWhole) {
  dir_.MakeFolder("www");
  testsupport::ChildProcess first(Args("7", "v7.exe"), {}, dir_.Utf8("publish.out"));
  ASSERT_EQ(first.WaitFor(std::chrono::seconds(60)), 0) << dir_.Read("publish.out");
  std::filesystem::copy(dir_.Utf8("www"), dir_.Utf8("www-old"),
                        std::filesystem::copy_options::recursive);

  // How long a whole publish takes here: the kills fall within it.
  const auto start = std::chrono::steady_clock::now();
  testsupport::ChildProcess whole(Args("8", "v8.exe"), {}, dir_.Utf8("publish.out"));
  ASSERT_EQ(whole.WaitFor(std::chrono::seconds(120)), 0) << dir_.Read("publish.out");
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(ClientVersion(), 8);

  // Some kills come after the end: the whole range of the publish is hit,
  // its last steps included.
  std::mt19937 random(seed_);
  int old = 0, placed = 0, renewed = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    RestoreOldTree();
    const auto delay = std::chrono::microseconds(random() % (took.count() * 11 / 10));
    testsupport::ChildProcess publish(Args("8", "v8.exe"), {}, dir_.Utf8("publish.out"));
    std::this_thread::sleep_for(delay);
    ::kill(publish.Pid(), SIGKILL);
    publish.WaitFor(std::chrono::seconds(30));
    const int version = ClientVersion();
    EXPECT_TRUE(version == 7 || version == 8)
        << "kill " << kill << " after " << delay.count() << " us (seed " << seed_ << ")";
    const bool packageThere = dir_.Exists("www/" + Gbk("招标工具") + "/V8");
    (version == 8 ? renewed : packageThere ? placed : old) += 1;
    // Whatever the kill left (a temporary file, a package without its
    // manifest), the publish goes through when it is run again.
    if (version == 7) {
      testsupport::ChildProcess again(Args("8", "v8.exe"), {}, dir_.Utf8("publish.out"));
      ASSERT_EQ(again.WaitFor(std::chrono::seconds(120)), 0) << dir_.Read("publish.out");
      EXPECT_EQ(ClientVersion(), 8);
    }
  }
  std::cout << "seed " << seed_ << ": a publish takes " << took.count() / 1000 << " ms; of "
            << kKills << " kills " << old << " left version 7 untouched, " << placed
            << " version 7 with the new package's folder, " << renewed << " version 8\n";
}

} // namespace

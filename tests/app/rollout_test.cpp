// The staged rollout: how machines spread over the places, and what the
// program check offers a machine, against nginx.
#include "app/Rollout.h"
#include "app/UpdateForm.h"
#include "platform/CodePage.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;

// Identities shaped like /etc/machine-id: 32 hexadecimal digits.
std::vector<std::string> MachineIds(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::string> ids;
  for (size_t i = 0; i < count; ++i) {
    char id[33];
    std::snprintf(id, sizeof id, "%08x%08x%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()), static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    ids.push_back(id);
  }
  return ids;
}

TEST(Rollout, TenThousandMachinesGetTheirShareAndEachVersionDrawsAnew) {
  const std::vector<std::string> ids = MachineIds(10000, 22);
  const std::string kind = Utf8ToAnsi("招标工具");
  for (int percent : {10, 25, 50, 100}) {
    int offered = 0;
    for (const std::string& id : ids)
      offered += RolloutBucket(id, kind, 7) < percent;
    EXPECT_NEAR(offered / 100.0, percent, 2.0) << percent;
  }
  // Offered half of version 7 and half of version 8 independently: a
  // quarter get both. The same machine, kind and version give one place.
  int both = 0;
  for (const std::string& id : ids) {
    both += RolloutBucket(id, kind, 7) < 50 && RolloutBucket(id, kind, 8) < 50;
    ASSERT_EQ(RolloutBucket(id, kind, 7), RolloutBucket(std::string(id), kind, 7));
  }
  EXPECT_NEAR(both / 100.0, 25.0, 2.0);
  int sameAcrossKinds = 0;
  for (const std::string& id : ids)
    sameAcrossKinds += RolloutBucket(id, kind, 7) == RolloutBucket(id, Utf8ToAnsi("投标工具"), 7);
  EXPECT_LT(sameAcrossKinds, 300);
  EXPECT_EQ(RolloutBucket("", kind, 7), 0);
}

class RolloutCheckTest : public ::testing::Test {
protected:
  RolloutCheckTest()
      : tmp_("TMPDIR", dir_.Utf8("tmp").c_str()),
        machine_("UPDATE_MACHINE_ID_FILE", dir_.Utf8("machine-id").c_str()) {
    dir_.MakeFolder("tmp");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    const std::string base = server_->BaseUrl();
    dir_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=6\r\n[HTTP]\r\nURLUseCDN=" + base +
                                         "\r\nURLWithnotCDN=" + base + "\r\n");
  }
  // The first of many identities whose place for version 7 is in
  // [low, high).
  std::string IdentityPlacedIn(int low, int high) {
    for (const std::string& id : MachineIds(1000, 5)) {
      const int bucket = RolloutBucket(id, Utf8ToAnsi("招标工具"), 7);
      if (bucket >= low && bucket < high) return id;
    }
    ADD_FAILURE() << "no identity placed in " << low << ".." << high;
    return {};
  }
  TCheckResult Check(const std::string& attributes) {
    dir_.Write("www/" + Utf8ToAnsi("招标工具") + "/Version.xml",
               "<V><E Name=\"\" Version=\"7\" VersionPath=\"V7\" " + attributes + "/></V>");
    TUpdateForm form({"-ZB"}, dir_.Ansi("exe/"));
    return form.CheckProductUpdate();
  }

  testsupport::TempFolder dir_;
  testsupport::ScopedEnv tmp_;
  testsupport::ScopedEnv machine_;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(RolloutCheckTest, AMachineKeepsItsAnswerAsTheShareGrowsAndAMandatoryUpdateReachesAll) {
  constexpr auto kOffered = TCheckResult::UpdateAvailable;
  constexpr auto kNotYet = TCheckResult::UpToDate;
  const std::string early = IdentityPlacedIn(0, 25);
  const std::string middle = IdentityPlacedIn(25, 50);
  const std::string late = IdentityPlacedIn(99, 100);
  struct Case {
    const std::string& identity;
    const char* attributes;
    TCheckResult result;
  };
  const Case cases[] = {
      {early, "Rollout=\"25\"", kOffered},
      {early, "Rollout=\"50\"", kOffered},
      {middle, "Rollout=\"25\"", kNotYet},
      {middle, "Rollout=\"50\"", kOffered},
      {late, "Rollout=\"99\"", kNotYet},
      {late, "Rollout=\"100\"", kOffered},
      {late, "Rollout=\"0\"", kOffered},
      {late, "", kOffered},
      {late, "Rollout=\"1\" MustUpdate=\"1\"", kOffered},
  };
  for (const Case& c : cases) {
    dir_.Write("machine-id", c.identity + "\n");
    EXPECT_EQ(Check(c.attributes), c.result) << c.identity << " " << c.attributes;
  }
  // The log tells the place, never the identity.
  const std::string log = dir_.Read("exe/update.log");
  EXPECT_NE(log.find("rollout percent=99 bucket=99 mandatory=0 offered=0"), std::string::npos);
  EXPECT_EQ(log.find(late), std::string::npos);
  // A machine without an identity has the first place.
  std::filesystem::remove(dir_.Utf8("machine-id"));
  EXPECT_EQ(Check("Rollout=\"1\""), kOffered);
  EXPECT_NE(dir_.Read("exe/update.log").find("bucket=0 identity=none"), std::string::npos);
}

} // namespace

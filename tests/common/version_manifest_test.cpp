// The manifest as every reader sees it (the updater, the publishing program
// and its checker), and the verdict on a signed manifest.
#include "common/IntegrityText.h"
#include "common/ManifestSignature.h"
#include "common/VersionManifest.h"
#include "common/XMLException.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"
#include "platform/Crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Utf8ToAnsi;

TEST(VersionManifest, EntriesAreTheElementChildrenReadWithoutChangingTheTree) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<V>\n"
      "<!-- 注释 --><![CDATA[not an entry]]>\n"
      "<E Name=\"上海\" Version=\"7\" VersionPath=\"V7\" MustUpdate=\"1\" "
      "SHA256=\"ab\" rollout=\"25\"><D 明细=\"一\"/><!-- x --><D/><D 明细=\"三\"/></E>\n"
      "<E name=\"b\" VERSION=\"seven\"/>\n</V>\n";
  IXMLDocumentRef document = LoadManifestBytes(text);
  const std::string before = document->GetXML();
  const std::vector<TManifestEntry> entries = ReadManifestEntries(document);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, Utf8ToAnsi("上海"));
  EXPECT_EQ(entries[0].version, 7);
  EXPECT_EQ(entries[0].versionPath, "V7");
  EXPECT_EQ(entries[0].mustUpdate, 1);
  EXPECT_EQ(entries[0].sha256, "ab");
  EXPECT_EQ(entries[0].signature, std::nullopt);
  EXPECT_EQ(entries[0].rollout, 25);
  EXPECT_EQ(entries[0].notes, (std::vector<std::string>{Utf8ToAnsi("一"), "", Utf8ToAnsi("三")}));
  EXPECT_EQ(entries[1].name, "b");
  EXPECT_EQ(entries[1].version, 0);
  EXPECT_EQ(entries[1].mustUpdate, 0);
  EXPECT_TRUE(entries[1].notes.empty());
  // Missing attributes were read, not added.
  EXPECT_EQ(document->GetXML(), before);
  EXPECT_TRUE(ManifestNameMatches("Region-A", "region-a"));
  EXPECT_FALSE(ManifestNameMatches(Utf8ToAnsi("上海"), Utf8ToAnsi("北京")));
  EXPECT_THROW(LoadManifestBytes("<V><E></V"), EXMLException);
}

TEST(VersionManifest, RolloutIsAShareFromOneToAHundredAndAnythingElseIsAll) {
  const std::pair<const char*, int32_t> cases[] = {
      {"Rollout=\"25\"", 25}, {"Rollout=\"1\"", 1},     {"Rollout=\"100\"", 100},
      {"Rollout=\"0\"", 100}, {"Rollout=\"101\"", 100}, {"Rollout=\"-5\"", 100},
      {"Rollout=\"x\"", 100}, {"Rollout=\"\"", 100},    {"", 100}};
  for (const auto& [attribute, percent] : cases) {
    IXMLDocumentRef document = LoadManifestBytes(std::string("<V><E ") + attribute + "/></V>");
    EXPECT_EQ(ReadManifestEntries(document).at(0).rollout, percent) << attribute;
  }
}

class ManifestSignatureTest : public ::testing::Test {
protected:
  platform::TEd25519Seed seed_{1, 2, 3};
  std::string publicKey_ = Base64Text(platform::TEd25519Signer(seed_).PublicKey());
  int64_t now_ = *ParseUtcTime("2027-03-01T12:00:00Z");

  std::string Manifest(const std::string& expires) const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<V" +
           (expires.empty() ? std::string() : " Expires=\"" + expires + "\"") +
           "><E Name=\"\" Version=\"7\" MustUpdate=\"0\"/></V>\r\n";
  }
  std::string Sign(const std::string& bytes) const {
    return Base64Text(platform::SignEd25519(seed_, bytes)) + "\n";
  }
};

TEST_F(ManifestSignatureTest, OnlyTheKeysSignatureOfTheExactBytesBeforeExpiryIsValid) {
  const std::string good = Manifest("2027-03-10T00:00:00Z");
  std::string flipped = good;
  flipped.replace(flipped.find("MustUpdate=\"0\""), 14, "MustUpdate=\"1\"");
  const std::string otherKey =
      Base64Text(platform::TEd25519Signer(platform::TEd25519Seed{9}).PublicKey());
  struct Case {
    const char* what;
    std::string manifest;
    std::optional<std::string> signatureFile;
    std::string key;
    TManifestVerdict verdict;
  };
  const Case cases[] = {
      {"signed", good, Sign(good), publicKey_, TManifestVerdict::Valid},
      {"signed, CR LF and blanks", good, "  " + Sign(good).substr(0, 88) + " \r\n", publicKey_,
       TManifestVerdict::Valid},
      {"the old manifest's line first", good, Sign(Manifest("")) + Sign(good), publicKey_,
       TManifestVerdict::Valid},
      {"a flipped MustUpdate", flipped, Sign(good), publicKey_, TManifestVerdict::Invalid},
      {"another key", good, Sign(good), otherKey, TManifestVerdict::Invalid},
      {"no signature file", good, std::nullopt, publicKey_, TManifestVerdict::Missing},
      {"an empty one", good, "\r\n", publicKey_, TManifestVerdict::Missing},
      {"garbage in it", good, "not base64 at all\n", publicKey_, TManifestVerdict::Invalid},
      {"no key", good, Sign(good), "", TManifestVerdict::BadKey},
      {"a short key", good, Sign(good), publicKey_.substr(0, 20), TManifestVerdict::BadKey},
      {"no Expires", Manifest(""), Sign(Manifest("")), publicKey_, TManifestVerdict::NoExpiry},
      {"a bad Expires", Manifest("2027-02-30T00:00:00Z"), Sign(Manifest("2027-02-30T00:00:00Z")),
       publicKey_, TManifestVerdict::NoExpiry},
      {"expired 23 hours ago", Manifest("2027-02-28T13:00:00Z"),
       Sign(Manifest("2027-02-28T13:00:00Z")), publicKey_, TManifestVerdict::Valid},
      {"expired 25 hours ago", Manifest("2027-02-28T11:00:00Z"),
       Sign(Manifest("2027-02-28T11:00:00Z")), publicKey_, TManifestVerdict::Expired},
  };
  for (const Case& c : cases) {
    const TManifestCheck check = VerifyManifest(c.manifest, c.signatureFile, c.key, now_);
    EXPECT_EQ(check.verdict, c.verdict) << c.what << ": " << ManifestVerdictName(check.verdict);
  }
  EXPECT_EQ(VerifyManifest(good, Sign(good), publicKey_, now_).expires,
            ParseUtcTime("2027-03-10T00:00:00Z"));
}

TEST(UtcTime, TextAndSecondsConvertBothWaysAndNothingElseIsTaken) {
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseUtcTime("2000-03-01T00:00:01Z"), 951868801);
  EXPECT_EQ(ParseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
  for (int64_t t : {int64_t{0}, int64_t{951868800}, int64_t{1709251199}, int64_t{4102444800}})
    EXPECT_EQ(ParseUtcTime(UtcTimeText(t)), t) << UtcTimeText(t);
  for (const char* bad : {"", "2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z",
                          "2024-01-01T24:00:00Z", "2024-01-01 00:00:00Z", "2024-01-01T00:00:00",
                          "2024-1-01T00:00:00Z", "2024-01-01T00:00:00+08:00"})
    EXPECT_EQ(ParseUtcTime(bad), std::nullopt) << bad;
}

} // namespace

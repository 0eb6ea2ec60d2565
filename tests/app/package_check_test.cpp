// The package checks end to end: the SHA256 and Signature attributes of the
// manifest and the publisher key of VersionCfg.ini decide whether a download
// is kept, against nginx and our fault server on loopback. Keys and
// signatures are made with the openssl command, as a publisher makes them.
#include "app/UpdateForm.h"
#include "common/ZorvaXMLUtils.h"
#include "platform/CodePage.h"
#include "platform/Crypto.h"
#include "platform/Profile.h"
#include "tests/app/download_record_fixture.h"
#include "tests/app/install_fixture.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::Utf8ToAnsi;
using testsupport::ChildProcess;

constexpr int kPackageSize = 300000;
const char* const kKept = "kept";

using testsupport::RandomBytes;

std::string Sha256Hex(const std::string& bytes) {
  platform::TSha256 hasher;
  hasher.Update(bytes.data(), bytes.size());
  const platform::TSha256Digest digest = hasher.Final();
  std::ostringstream out;
  for (uint8_t b : digest)
    out << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
  return out.str();
}

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The text after `key` up to the next blank or quote.
std::string ValueAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  return text.substr(at, text.find_first_of(" \"\n", at) - at);
}

// A publisher's Ed25519 keys and signatures, through the openssl command.
class Publisher {
public:
  explicit Publisher(std::string folderUtf8) : folder_(std::move(folderUtf8)) {
    std::filesystem::create_directories(folder_);
  }
  // Makes the key `name`.pem.
  std::string MakeKey(const std::string& name) {
    const std::string key = folder_ + name + ".pem";
    Run({"genpkey", "-algorithm", "ed25519", "-out", key});
    return key;
  }
  // The raw 32-byte public key in Base64, as VersionCfg.ini holds it.
  std::string PublicKey(const std::string& key) {
    Run({"pkey", "-in", key, "-pubout", "-outform", "DER", "-out", folder_ + "public.der"});
    const std::string der = testsupport::ReadFile(folder_ + "public.der");
    return Base64(der.substr(der.size() - 32));
  }
  std::string Sign(const std::string& key, const std::string& bytes) {
    std::ofstream(folder_ + "message", std::ios::binary) << bytes;
    Run({"pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", folder_ + "message", "-out",
         folder_ + "signature"});
    return Base64(testsupport::ReadFile(folder_ + "signature"));
  }

private:
  void Run(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/openssl");
    ChildProcess openssl(args, {}, folder_ + "openssl.log");
    ASSERT_EQ(openssl.WaitFor(std::chrono::seconds(30)), 0)
        << testsupport::ReadFile(folder_ + "openssl.log");
  }
  static std::string Base64(const std::string& bytes) {
    std::string text;
    BytesToBase64Text(std::vector<uint8_t>(bytes.begin(), bytes.end()), text);
    return text;
  }

  std::string folder_;
};

// The installer of version 7 on nginx, its manifest entry carrying the
// attributes a case names, and a form that checks and downloads it.
class PackageCheckTest : public ::testing::Test {
protected:
  PackageCheckTest()
      : package_(RandomBytes(kPackageSize, 7)), tmp_("TMPDIR", dir_.Utf8("tmp")),
        publisher_(dir_.Utf8("keys/")) {
    dir_.MakeFolder("tmp");
    dir_.MakeFolder("www");
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("www"), dir_.Utf8("nginx"));
    Configure("");
  }

  // VersionCfg.ini for nginx, with [Security] PublicKey when `publicKey` is
  // not empty.
  void Configure(const std::string& publicKey) {
    const std::string base = server_->BaseUrl();
    dir_.Write("exe/VersionCfg.ini",
               "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + base +
                   "\r\nURLWithnotCDN=" + base + "\r\nDoneSize=0\r\n" +
                   (publicKey.empty() ? "" : "[Security]\r\nPublicKey=" + publicKey + "\r\n"));
  }
  void Publish(const std::string& bytes, const std::string& attributes) {
    const std::string kind = Utf8ToAnsi("招标工具");
    dir_.Write("www/" + kind + "/Version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Versions>\n"
               "  <Version Name=\"\" Version=\"7\" VersionPath=\"V7\" " +
                   attributes + "/>\n</Versions>\n");
    dir_.Write("www/" + kind + "/V7/" + kind + ".exe", bytes);
  }

  // Checks and downloads afresh: "kept", or the text of the refusal. A
  // refused file is gone and DoneSize is 0; a kept one is what the server
  // sent.
  std::string Download(const std::string& served) {
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    TUpdateForm form({"-ZB"}, dir_.Ansi("exe/"));
    EXPECT_EQ(form.CheckProductUpdate(), TCheckResult::UpdateAvailable);
    try {
      EXPECT_TRUE(form.DownloadPackage(nullptr));
      EXPECT_TRUE(Local() == served);
      return kKept;
    } catch (const EPackageRefused& refused) {
      EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate/招标工具.exe"));
      EXPECT_EQ(form.ReadDoneSize(), 0);
      return refused.what();
    }
  }
  std::string Local() const { return dir_.Read("tmp/MQTUpdate/招标工具.exe"); }

  static std::string Corrupt() { return Utf8ToAnsi("下载的文件已损坏，请重新下载。"); }
  static std::string BadSignature() { return Utf8ToAnsi("安装包签名无效，已拒绝安装。"); }

  testsupport::TempFolder dir_;
  std::string package_;
  testsupport::ScopedEnv tmp_;
  Publisher publisher_;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(PackageCheckTest, ChecksumDecidesWhetherTheDownloadIsKept) {
  const std::string sha = Sha256Hex(package_);
  std::string oneByteOff = package_;
  oneByteOff[kPackageSize / 2] ^= 0x20;
  struct Case {
    const char* what;
    const std::string& served;
    std::string attributes;
    std::string result;
  } cases[] = {
      {"matching digest", package_, "SHA256=\"" + sha + "\"", kKept},
      {"upper-case digest", package_, "SHA256=\"" + Upper(sha) + "\"", kKept},
      {"no digest: taken as it comes", oneByteOff, "", kKept},
      {"one byte differs", oneByteOff, "SHA256=\"" + sha + "\"", Corrupt()},
      {"63 digits", package_, "SHA256=\"" + sha.substr(1) + "\"", Corrupt()},
      {"a letter beyond f", package_, "SHA256=\"g" + sha.substr(1) + "\"", Corrupt()},
      {"blanks around the digits, as pasted", package_, "SHA256=\"  " + sha + " \"", kKept},
      {"a tab after the digits", package_, "SHA256=\"" + sha + "\t\"", kKept},
      {"a blank inside the digits", package_,
       "SHA256=\"" + sha.substr(0, 32) + " " + sha.substr(32) + "\"", Corrupt()},
      {"empty attribute", package_, "SHA256=\"\"", Corrupt()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Publish(c.served, c.attributes);
    EXPECT_EQ(Download(c.served), c.result);
  }
}

TEST_F(PackageCheckTest, SignatureIsDemandedOnlyWhileAPublicKeyIsSet) {
  const std::string key = publisher_.MakeKey("publisher");
  const std::string otherKey = publisher_.MakeKey("other");
  const std::string publicKey = publisher_.PublicKey(key);
  const std::string good = publisher_.Sign(key, package_);
  const std::string ofOtherPackage = publisher_.Sign(key, RandomBytes(kPackageSize, 8));
  const std::string byOtherKey = publisher_.Sign(otherKey, package_);
  const std::string sha = "SHA256=\"" + Sha256Hex(package_) + "\" ";
  struct Case {
    const char* what;
    std::string publicKey;
    std::string attributes;
    std::string result;
  } cases[] = {
      {"good signature", publicKey, "Signature=\"" + good + "\"", kKept},
      {"good signature and digest", publicKey, sha + "Signature=\"" + good + "\"", kKept},
      {"blanks around the signature", publicKey, "Signature=\" " + good + "  \"", kKept},
      {"signature of another package", publicKey, "Signature=\"" + ofOtherPackage + "\"",
       BadSignature()},
      {"signature by another key", publicKey, "Signature=\"" + byOtherKey + "\"", BadSignature()},
      {"truncated signature", publicKey, "Signature=\"" + good.substr(0, 60) + "\"",
       BadSignature()},
      {"no signature", publicKey, sha, BadSignature()},
      {"signature that is no Base64", publicKey, "Signature=\"@@@@\"", BadSignature()},
      {"configured key that is not 32 bytes", publicKey.substr(0, 20), "Signature=\"" + good + "\"",
       BadSignature()},
      {"wrong digest is told first", publicKey,
       "SHA256=\"" + std::string(64, '0') + "\" Signature=\"" + good + "\"", Corrupt()},
      {"no key: the signature is not looked at", "", "Signature=\"@@@@\"", kKept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Configure(c.publicKey);
    Publish(package_, c.attributes);
    EXPECT_EQ(Download(package_), c.result);
  }
}

// A digest or signature that is right but for one digit or byte, at either
// end or in the middle, is as wrong as any other.
TEST_F(PackageCheckTest, EveryDigitOfTheDigestAndEveryByteOfTheSignatureCounts) {
  const std::string key = publisher_.MakeKey("publisher");
  const std::string publicKey = publisher_.PublicKey(key);
  const std::string sha = Sha256Hex(package_);
  const auto digestWithDigit = [&](size_t at) {
    std::string digest = sha;
    digest[at] = digest[at] == '0' ? '1' : '0';
    return "SHA256=\"" + digest + "\"";
  };
  TXMLBinary decoded;
  ASSERT_TRUE(Base64TextToBytes(publisher_.Sign(key, package_), decoded) && decoded);
  const std::vector<uint8_t> signature = *decoded;
  ASSERT_EQ(signature.size(), 64u);
  const auto signatureWithByte = [&](size_t at) {
    std::vector<uint8_t> changed = signature;
    changed[at] ^= 0x01;
    std::string text;
    BytesToBase64Text(changed, text);
    return "Signature=\"" + text + "\"";
  };
  struct Case {
    std::string what;
    std::string publicKey;
    std::string attributes;
    std::string result;
  } cases[] = {
      {"digest, first digit", "", digestWithDigit(0), Corrupt()},
      {"digest, 32nd digit", "", digestWithDigit(31), Corrupt()},
      {"digest, 33rd digit", "", digestWithDigit(32), Corrupt()},
      {"digest, last digit", "", digestWithDigit(63), Corrupt()},
      {"signature, first byte of R", publicKey, signatureWithByte(0), BadSignature()},
      {"signature, last byte of R", publicKey, signatureWithByte(31), BadSignature()},
      {"signature, first byte of S", publicKey, signatureWithByte(32), BadSignature()},
      {"signature, last byte", publicKey, signatureWithByte(63), BadSignature()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Configure(c.publicKey);
    Publish(package_, c.attributes);
    EXPECT_EQ(Download(package_), c.result);
  }
}

TEST_F(PackageCheckTest, PublisherSignAndUpdaterAgree) {
  const std::string key = publisher_.MakeKey("publisher");
  dir_.Write("package.exe", package_);
  ChildProcess script({UPDATER_PUBLISH_PROGRAM, "sign", "--key", key, dir_.Utf8("package.exe")}, {},
                      dir_.Utf8("sign.out"));
  ASSERT_EQ(script.WaitFor(std::chrono::seconds(60)), 0) << dir_.Read("sign.out");
  const std::string output = dir_.Read("sign.out");
  const std::string attributes = output.substr(0, output.find('\n'));
  const std::string publicKey = ValueAfter(output, "PublicKey=");
  EXPECT_EQ(publicKey, publisher_.PublicKey(key));

  Configure(publicKey);
  Publish(package_, attributes);
  EXPECT_EQ(Download(package_), kKept) << output;
  // The same lines for a package altered on the server.
  std::string altered = package_;
  altered[10] ^= 1;
  Publish(altered, attributes);
  EXPECT_EQ(Download(altered), Corrupt());
  Publish(altered, "Signature=\"" + ValueAfter(attributes, "Signature=\"") + "\"");
  EXPECT_EQ(Download(altered), BadSignature());
}

// The digest is taken while the bytes arrive; it must cover the whole file
// however the transfer went, also the bytes that an earlier run left.
TEST_F(PackageCheckTest, DigestCoversTheWholeFileAcrossResumesAndServerFaults) {
  dir_.Write("package.bin", package_);
  auto form = [&](const testsupport::FaultServer& server) {
    platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "URLUseCDN",
                                 server.BaseUrl());
    auto f = std::make_unique<TUpdateForm>(std::vector<std::string>{"-ZB"}, dir_.Ansi("exe/"));
    f->packagePath = "V7";
    f->packageSha256 = Sha256Hex(package_);
    f->limits.transferMs = 1500;
    return f;
  };
  auto setDoneSize = [&](int64_t value) {
    platform::WriteProfileString(dir_.Ansi("exe/VersionCfg.ini"), "HTTP", "DoneSize",
                                 std::to_string(value));
  };
  const std::string other = RandomBytes(kPackageSize, 9);
  struct Case {
    const char* what;
    const char* mode;
    long arg;
    std::optional<std::string> local; // what an earlier run left
    int64_t doneSize;
    bool kept;
  } cases[] = {
      {"resumed after a cut", "cut", 123456, std::nullopt, 0, true},
      {"range ignored over a partial file", "ignore-range", 0, package_.substr(0, 150000), 100000,
       true},
      {"many work events over stale bytes", "slow", 1,
       package_.substr(0, 100000) + other.substr(100000), 100000, true},
      {"stale bytes beyond the package cut off", "normal", 0, package_ + other, 100000, true},
      {"earlier run left other bytes before the resume offset", "normal", 0,
       other.substr(0, 150000), 100000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.Utf8("tmp/MQTUpdate"));
    setDoneSize(c.doneSize);
    testsupport::FaultServer server(dir_.Utf8("package.bin"), dir_.Utf8("fault"), c.mode, c.arg);
    if (c.local) {
      dir_.Write("tmp/MQTUpdate/招标工具.exe", *c.local);
      recordtest::LeaveRecord(dir_.Ansi("tmp/MQTUpdate/招标工具.exe"),
                              server.BaseUrl() + recordtest::kInstallerPath);
    }
    if (std::string(c.mode) == "cut") {
      EXPECT_THROW(form(server)->DownloadPackage(nullptr), platform::EHttpError);
    }
    if (c.kept) {
      EXPECT_TRUE(form(server)->DownloadPackage(nullptr));
      EXPECT_TRUE(Local() == package_);
    } else {
      EXPECT_THROW(form(server)->DownloadPackage(nullptr), EPackageRefused);
      EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate/招标工具.exe"));
    }
  }
}

// Both checks take each byte as it was when a work event passed it: bytes
// that change on disk afterwards do not count. So they ran while the
// package arrived, and the signature needs no pass over the file at the
// end. A check that was fed nothing reads the altered bytes and refuses.
TEST_F(PackageCheckTest, ChecksTakeTheBytesAsTheyWereWhenTheyArrived) {
  const std::string key = publisher_.MakeKey("publisher");
  const std::string publicKey = publisher_.PublicKey(key);
  const std::string signature = publisher_.Sign(key, package_);
  const std::string sha = Sha256Hex(package_);
  struct Case {
    const char* what;
    std::optional<std::string> sha256, signature;
    std::string publicKey;
    TPackageFault unfed;
  } cases[] = {
      {"digest", sha, std::nullopt, "", TPackageFault::Corrupt},
      {"signature", std::nullopt, signature, publicKey, TPackageFault::BadSignature},
      {"digest and signature", sha, signature, publicKey, TPackageFault::Corrupt},
  };
  for (const Case& c : cases) {
    for (int arrived : {0, 1, 65536, kPackageSize - 1, kPackageSize}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(arrived));
      dir_.Write("package", package_.substr(0, arrived));
      TPackageCheck check(c.sha256, c.signature, c.publicKey, dir_.Ansi("package"));
      check.Advance(arrived / 3);
      check.Advance(arrived);
      std::string later = package_;
      later.replace(0, arrived, arrived, 'x');
      dir_.Write("package", later);
      EXPECT_EQ(check.Verify(), TPackageFault::None);
    }
    dir_.Write("package", package_);
    TPackageCheck unfed(c.sha256, c.signature, c.publicKey, dir_.Ansi("package"));
    dir_.Write("package", std::string(1, 'x') + package_.substr(1));
    EXPECT_EQ(unfed.Verify(), c.unfed) << c.what;
  }
}

TEST_F(PackageCheckTest, RefusedTemplateLeavesTheInstalledOneAndEndsTheRun) {
  const std::string kind = Utf8ToAnsi("招标示范文本");
  const std::string name = Utf8ToAnsi("施工招标");
  const std::string templ =
      ziptest::BuildZip({{"content.bin", package_}}, "[Region]\r\nVersion=5\r\n").bytes;
  dir_.Write("exe/Region.ini", "[Region]\r\nRegion=0\r\n");
  dir_.Write("exe/招标示范文本/施工招标.sfwb", "installed");
  dir_.Write("www/" + kind + "/Version.xml",
             "<Templates><T Name=\"施工招标\" Version=\"5\" VersionPath=\"T5\" SHA256=\"" +
                 Sha256Hex(templ) + "\"/></Templates>");
  std::string altered = templ;
  altered[templ.size() / 2] ^= 1;
  dir_.Write("www/" + kind + "/T5/" + name + ".sfwb", altered);

  TUpdateForm form({"-ZB", name}, dir_.Ansi("exe/"));
  form.FormCreate();
  EXPECT_TRUE(form.EndRequested());
  EXPECT_EQ(form.ExitStatus(), TExitStatus::Refused);
  EXPECT_NE(testsupport::ReadFile(dir_.Utf8("nginx/access.log")).find(".sfwb"), std::string::npos);
  EXPECT_EQ(dir_.Read("exe/招标示范文本/施工招标.sfwb"), "installed");
  EXPECT_FALSE(dir_.Exists("tmp/MQTUpdate/施工招标.sfwb"));
  EXPECT_EQ(form.ReadDoneSize(), 0);

  dir_.Write("www/" + kind + "/T5/" + name + ".sfwb", templ);
  TUpdateForm mended({"-ZB", name}, dir_.Ansi("exe/"));
  mended.FormCreate();
  EXPECT_TRUE(dir_.Read("exe/招标示范文本/施工招标.sfwb") == templ);
  EXPECT_EQ(mended.ExitStatus(), TExitStatus::Ok);
}

// The whole window flow with a fake installer: a corrupt download never
// runs, the offer shows again, and the next download, once the server is
// mended, starts from byte 0 and installs.
class CheckedInstallTest : public installtest::InstallTest {};

TEST_F(CheckedInstallTest, CorruptInstallerNeverRunsAndTheMendedOneInstalls) {
  using enum ControlId;
  const std::string installer =
      root_.Read(std::string(installtest::kWorkingFolder) + "招标工具.exe");
  std::filesystem::remove_all(root_.Utf8(installtest::kWorkingFolder));
  testsupport::NginxServer server(root_.Utf8("www"), root_.Utf8("nginx"));
  const std::string base = server.BaseUrl();
  root_.Write("exe/VersionCfg.ini", "[Version]\r\nCurVersion=5\r\n[HTTP]\r\nURLUseCDN=" + base +
                                        "\r\nURLWithnotCDN=" + base + "\r\nDoneSize=0\r\n");
  const std::string kind = Utf8ToAnsi("招标工具");
  root_.Write("www/" + kind + "/Version.xml",
              "<Versions><Version Name=\"\" Version=\"7\" VersionPath=\"V7\" SHA256=\"" +
                  Sha256Hex(installer) + "\"/></Versions>");
  std::string corrupt = installer;
  corrupt.replace(corrupt.find("install $*"), 7, "INSTALL");
  root_.Write("www/" + kind + "/V7/" + kind + ".exe", corrupt);

  installtest::TInstallForm form = Form();
  form.tmUpdateTimer();
  ASSERT_TRUE(form.controls[pnl1].visible);
  form.ExecuteAction(form.controls[btnUpdate].action);
  EXPECT_EQ(form.messages, std::vector<std::string>{Utf8ToAnsi("下载的文件已损坏，请重新下载。")});
  EXPECT_TRUE(form.controls[pnl1].visible);
  EXPECT_FALSE(form.controls[pnl2].visible);
  EXPECT_FALSE(form.controls[pnl3].visible);
  EXPECT_EQ(form.controls[pbUpdate].position, 0);
  EXPECT_FALSE(root_.Exists(std::string(installtest::kWorkingFolder) + "招标工具.exe"));
  EXPECT_EQ(form.ReadDoneSize(), 0);

  root_.Write("www/" + kind + "/V7/" + kind + ".exe", installer);
  form.ExecuteAction(form.controls[btnUpdate].action);
  ASSERT_TRUE(form.controls[pnl3].visible);
  // nginx's log: the second GET sent the whole package again.
  std::istringstream log(testsupport::ReadFile(root_.Utf8("nginx/access.log")));
  std::string line, lastGet;
  while (std::getline(log, line))
    if (line.find("\"GET /%") != std::string::npos && line.find(".exe") != std::string::npos)
      lastGet = line;
  EXPECT_NE(lastGet.find("\" 206 " + std::to_string(installer.size()) + " "), std::string::npos)
      << lastGet;
  form.ExecuteAction(form.controls[btnOK].action);
  EXPECT_EQ(ReadLog(), "uninstall /quiet\nbacked up\ninstall /quiet\n");
  EXPECT_TRUE(form.Closed());
}

} // namespace

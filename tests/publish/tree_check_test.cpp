// update-publish check on a tree that update-publish wrote, with one fault
// planted at a time, read from the folder and over HTTP from nginx: each
// fault is named, and only a tree without any passes.
#include "tests/archive/zip_fixtures.h"
#include "tests/publish/publish_fixture.h"
#include "tests/support/TestServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using namespace publishtest;

class TreeCheckTest : public ::testing::Test {
protected:
  TreeCheckTest() {
    key_ = MakeKey(dir_, "publisher");
    dir_.MakeFolder("good");
    dir_.Write("v7.exe", std::string(100000, '7'));
    dir_.Write("v1.exe", std::string(1000, '1'));
    dir_.Write("t.sfwb",
               ziptest::BuildZip(ziptest::TwoMembers(), "[Region]\r\nVersion=3\r\n").bytes);
    const std::string good = dir_.Utf8("good");
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"program", "--server", good, "--kind", "招标工具", "--version", "7", "--path", "V7",
              dir_.Utf8("v7.exe")},
             {"program", "--server", good, "--kind", "招标工具", "--region", "上海", "--version",
              "7", "--path", "V7", dir_.Utf8("v7.exe")},
             {"program", "--server", good, "--kind", "投标工具", "--version", "1", "--path", "V1",
              dir_.Utf8("v1.exe")},
             {"template", "--server", good, "--kind", "招标示范文本", "--name", "施工招标",
              "--version", "3", "--path", "T3", dir_.Utf8("t.sfwb")}}) {
      args.insert(args.end() - 1, {"--key", key_.pem});
      const TRun run = Publish(dir_, args);
      EXPECT_EQ(run.status, 0) << run.output;
    }
    server_ = std::make_unique<testsupport::NginxServer>(dir_.Utf8("served"), dir_.Utf8("nginx"));
  }
  // The good tree in "served", with `plant` applied to it.
  void Plant(const std::function<void()>& plant) {
    std::filesystem::remove_all(dir_.Utf8("served"));
    std::filesystem::copy(dir_.Utf8("good"), dir_.Utf8("served"),
                          std::filesystem::copy_options::recursive);
    plant();
  }
  std::string Served(const std::string& utf8Kind, const std::string& rest = "Version.xml") const {
    return "served/" + Gbk(utf8Kind) + "/" + rest;
  }
  void Replace(const std::string& path, const std::string& from, const std::string& to) {
    std::string text = dir_.Read(path);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    dir_.Write(path, text.replace(at, from.size(), to));
  }
  // The check of "served" from the folder and over HTTP: both must agree.
  std::vector<TRun> Check(bool withKey) {
    std::vector<TRun> runs;
    for (const std::string& where : {std::string("--server"), std::string("--url")}) {
      std::vector<std::string> args = {
          "check", where, where == "--server" ? dir_.Utf8("served") : server_->BaseUrl()};
      if (withKey) args.insert(args.end(), {"--public-key", key_.publicKey});
      runs.push_back(Publish(dir_, args));
    }
    return runs;
  }

  testsupport::TempFolder dir_;
  TPublisherKey key_;
  std::unique_ptr<testsupport::NginxServer> server_;
};

TEST_F(TreeCheckTest, EachPlantedFaultIsNamedAndOnlyTheGoodTreePasses) {
  const std::string other(100000, 'x');
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool withKey;
    const char* says; // a piece of the problem's line
  };
  const Case cases[] = {
      {"a missing package",
       [&] {
         std::filesystem::remove(dir_.Utf8(Served("招标工具", "V7/" + Gbk("招标工具") + ".exe")));
       },
       false, "不存在"},
      {"a package with other bytes",
       [&] { dir_.Write(Served("招标工具", "V7/" + Gbk("招标工具") + ".exe"), other); }, false,
       "与条目的 SHA256 不符"},
      {"a package signature that is not the package's",
       [&] { Replace(Served("投标工具"), "Signature=\"", "Signature=\"AAAA"); }, true,
       "的签名无效"},
      {"a manifest signed by someone else",
       [&] {
         const TPublisherKey stranger = MakeKey(dir_, "stranger");
         const TRun run =
             Publish(dir_, {"sign", "--key", stranger.pem, dir_.Utf8(Served("投标工具"))});
         const size_t at = run.output.find("Signature=\"") + 11;
         dir_.Write(Served("投标工具", "Version.xml.sig"),
                    run.output.substr(at, run.output.find('"', at) - at) + "\n");
       },
       true, "签名文件中没有它的签名"},
      {"a template whose comment is behind its entry",
       [&] { Replace(Served("招标示范文本"), "Version=\"3\"", "Version=\"4\""); }, false,
       "低于条目的版本 4"},
      {"a name GBK cannot hold", [&] { Replace(Served("投标工具"), "Name=\"\"", "Name=\"서울\""); },
       false, "GBK 无法表示"},
      {"a manifest that does not parse",
       [&] {
         dir_.Write(Served("投标工具"), "<Versions><Version Name=\"\" Version=1/></Versions>");
       },
       false, "无法解析"},
      {"an entry without a package signature when a key is given",
       [&] { Replace(Served("投标工具"), "Signature=\"", "Unsigned=\""); }, true, "缺少安装包签名"},
  };
  Plant([] {});
  for (const TRun& run : Check(true)) {
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("已检查 3 个版本文件、4 个条目：全部正常。"), std::string::npos)
        << run.output;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Plant(c.plant);
    for (const TRun& run : Check(c.withKey)) {
      EXPECT_EQ(run.status, 1) << run.output;
      EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
      EXPECT_NE(run.output.find("个问题。"), std::string::npos) << run.output;
    }
  }
}

TEST_F(TreeCheckTest, AManifestNearItsExpiryIsWarnedAboutAndStillPasses) {
  Plant([&] {
    const TRun run =
        Publish(dir_, {"rollout", "--server", dir_.Utf8("served"), "--kind", "招标工具",
                       "--percent", "50", "--key", key_.pem, "--expires", "3"});
    EXPECT_EQ(run.status, 0) << run.output;
  });
  for (const TRun& run : Check(true)) {
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("注意："), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("将于"), std::string::npos) << run.output;
  }
}

// A server split in two, as clients reach it: the manifests at the plain
// base (URLWithnotCDN), the files they name at the CDN base (URLUseCDN).
TEST_F(TreeCheckTest, FilesAreLookedForAtTheCdnBaseWhenOneIsGiven) {
  Plant([&] {
    for (const char* part : {"plain", "cdn"})
      std::filesystem::copy(dir_.Utf8("good"), dir_.Utf8(std::string("served/") + part),
                            std::filesystem::copy_options::recursive);
    // The packages' folders (V7, V1, T3) go from the plain side.
    std::vector<std::filesystem::path> packages;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(dir_.Utf8("served/plain"))) {
      const std::string name = entry.path().filename().string();
      if (entry.is_directory() && (name[0] == 'V' || name[0] == 'T')) packages.push_back(entry);
    }
    for (const auto& folder : packages)
      std::filesystem::remove_all(folder);
  });
  const std::string plain = server_->BaseUrl() + "plain/";
  TRun run = Publish(dir_, {"check", "--url", plain, "--cdn-url", server_->BaseUrl() + "cdn/",
                            "--public-key", key_.publicKey});
  EXPECT_EQ(run.status, 0) << run.output;
  run = Publish(dir_, {"check", "--url", plain, "--public-key", key_.publicKey});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("不存在"), std::string::npos) << run.output;
  EXPECT_EQ(Publish(dir_, {"check", "--server", dir_.Utf8("served"), "--cdn-url", plain}).status,
            4);
}

} // namespace

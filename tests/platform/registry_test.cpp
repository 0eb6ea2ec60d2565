#include "platform/Registry.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using platform::ReadRegistryString;
using platform::Utf8ToAnsi;

namespace {

class RegistryFile : public testing::Test {
protected:
  void SetUp() override {
    const char* old = std::getenv("UPDATE_REGISTRY_FILE");
    if (old != nullptr) saved_ = old;
    hadValue_ = old != nullptr;
  }
  void TearDown() override {
    if (hadValue_)
      ::setenv("UPDATE_REGISTRY_FILE", saved_.c_str(), 1);
    else
      ::unsetenv("UPDATE_REGISTRY_FILE");
  }
  void Use(const std::string& utf8Path) { ::setenv("UPDATE_REGISTRY_FILE", utf8Path.c_str(), 1); }

  testsupport::TempFolder dir_;
  const std::string key_ = Utf8ToAnsi("SOFTWARE\\Zorva编标工具\\6.0");

private:
  std::string saved_;
  bool hadValue_ = false;
};

} // namespace

TEST_F(RegistryFile, ReadsNamedAndUnnamedValuesOfChineseKey) {
  dir_.Write("注册表.ini", Utf8ToAnsi("[SOFTWARE\\Other]\r\nZBPath=/wrong\r\n"
                                      "[software\\Zorva编标工具\\6.0]\r\n"
                                      "ZBPath=/opt/招标工具/\r\n"
                                      "TBPath = /opt/tb\r\n"
                                      "@=/opt/default\r\n"));
  Use(dir_.Utf8("注册表.ini"));
  EXPECT_EQ(platform::RegistryFile(), dir_.Ansi("注册表.ini"));
  // The caller appends the delimiter; the value comes as it is stored.
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), Utf8ToAnsi("/opt/招标工具/"));
  EXPECT_EQ(ReadRegistryString(key_, "tbpath"), "/opt/tb");
  EXPECT_EQ(ReadRegistryString(key_, ""), "/opt/default");
}

TEST_F(RegistryFile, MissingValueOfExistingKeyReadsEmpty) {
  dir_.Write("r.ini", Utf8ToAnsi("[SOFTWARE\\Zorva编标工具\\6.0]\r\nZBPath=/x\r\n"));
  Use(dir_.Utf8("r.ini"));
  EXPECT_EQ(ReadRegistryString(key_, "TBPath"), "");
  EXPECT_EQ(ReadRegistryString(key_, ""), "");
}

TEST_F(RegistryFile, MissingFileOrKeyCannotBeOpened) {
  dir_.Write("r.ini", "[SOFTWARE\\Zorva]\r\nZBPath=/x\r\n");
  Use(dir_.Utf8("r.ini"));
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), std::nullopt);
  Use(dir_.Utf8("absent.ini"));
  EXPECT_EQ(ReadRegistryString("SOFTWARE\\Zorva", "ZBPath"), std::nullopt);
}

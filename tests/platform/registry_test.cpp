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

TEST_F(RegistryFile, WritesAndDeletesValuesKeepingEveryOtherLine) {
  const std::string before = Utf8ToAnsi("; 注释\r\n[SOFTWARE\\Other]\r\nZBPath=/other\r\n"
                                        "[SOFTWARE\\Zorva编标工具\\6.0]\r\nTBPath=/opt/tb\r\n");
  dir_.Write("r.ini", before);
  Use(dir_.Utf8("r.ini"));
  struct Case {
    const char* name;
    std::string value;
  } cases[] = {
      {"ZBPath", Utf8ToAnsi("C:\\Program Files\\Zorva\\招标工具")},
      // The profile rules would trim blanks and take quotes off: they read
      // back as they were written.
      {"ZBPath", " /opt/with blanks/ "},
      {"ZBPath", "\"quoted\""},
      {"", "/opt/unnamed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(platform::WriteRegistryString(key_, c.name, c.value));
    EXPECT_EQ(ReadRegistryString(key_, c.name), c.value);
    EXPECT_EQ(ReadRegistryString(key_, "TBPath"), "/opt/tb");
    EXPECT_EQ(ReadRegistryString("SOFTWARE\\Other", "ZBPath"), "/other");
  }
  ASSERT_TRUE(platform::DeleteRegistryValue(key_, "ZBPath"));
  ASSERT_TRUE(platform::DeleteRegistryValue(key_, ""));
  EXPECT_EQ(dir_.Read("r.ini"), before);
  // Gone already, or a key or file that is not there: nothing to do.
  EXPECT_TRUE(platform::DeleteRegistryValue(key_, "ZBPath"));
  EXPECT_TRUE(platform::DeleteRegistryValue("SOFTWARE\\Missing", "ZBPath"));
  EXPECT_EQ(dir_.Read("r.ini"), before);

  // A key that the uninstaller removed whole comes back with its value.
  Use(dir_.Utf8("new.ini"));
  ASSERT_TRUE(platform::WriteRegistryString(key_, "ZBPath", "/opt/zb"));
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), "/opt/zb");
  EXPECT_TRUE(platform::CanWriteRegistryKey(key_));
  // A registry file that cannot be written is left as it was.
  Use(dir_.Utf8("missing folder/r.ini"));
  EXPECT_FALSE(platform::CanWriteRegistryKey(key_));
  EXPECT_FALSE(platform::WriteRegistryString(key_, "ZBPath", "/opt/zb"));
  dir_.MakeFolder("folder.ini");
  Use(dir_.Utf8("folder.ini"));
  EXPECT_FALSE(platform::WriteRegistryString(key_, "ZBPath", "/opt/zb"));
  EXPECT_FALSE(platform::DeleteRegistryValue(key_, "ZBPath"));
}

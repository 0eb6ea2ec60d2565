// The registry on Windows: keys made by the test with the system's reg tool,
// in the 32-bit view, where the products' installers write.
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "tests/support/WinCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::ReadRegistryString;
using platform::Utf8ToAnsi;

class Registry : public testing::Test {
protected:
  // A key of this test program alone, so that runs side by side do not meet.
  Registry()
      : key_(Utf8ToAnsi("SOFTWARE\\Zorva编标工具测试") + std::to_string(GetCurrentProcessId()) +
             "\\6.0") {}
  ~Registry() override {
    testsupport::RunCommand("reg delete \"HKLM\\" + key_.substr(0, key_.rfind('\\')) +
                            "\" /f /reg:32");
  }

  void Add(const std::string& valueSwitch, const std::string& type, const std::string& data,
           const char* view = "/reg:32") {
    const std::string command = "reg add \"HKLM\\" + key_ + "\" " + valueSwitch + " /t " + type +
                                " /d \"" + data + "\" /f " + view;
    ASSERT_EQ(testsupport::RunCommand(command), 0) << command;
  }

  std::string key_;
};

TEST_F(Registry, ReadsNamedAndUnnamedValuesOfAChineseKeyInThe32BitView) {
  // reg's own command line takes a backslash before a quote as an escape.
  Add("/v ZBPath", "REG_SZ", Utf8ToAnsi("D:\\招标工具"));
  Add("/v TBPath", "REG_EXPAND_SZ", Utf8ToAnsi("D:\\投标"));
  Add("/ve", "REG_SZ", "unnamed");
  Add("/v Number", "REG_DWORD", "7");
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), Utf8ToAnsi("D:\\招标工具"));
  EXPECT_EQ(ReadRegistryString(key_, "zbpath"), Utf8ToAnsi("D:\\招标工具"));
  EXPECT_EQ(ReadRegistryString(key_, "TBPath"), Utf8ToAnsi("D:\\投标"));
  EXPECT_EQ(ReadRegistryString(key_, ""), "unnamed");
  // A value that holds no text, or none at all, reads as empty text.
  EXPECT_EQ(ReadRegistryString(key_, "Number"), "");
  EXPECT_EQ(ReadRegistryString(key_, "Missing"), "");
}

TEST_F(Registry, MissingKeyOrAKeyOnlyInThe64BitViewCannotBeOpened) {
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), std::nullopt);
#ifdef _WIN64
  Add("/v ZBPath", "REG_SZ", "C:\\x", "/reg:64");
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), std::nullopt);
  testsupport::RunCommand("reg delete \"HKLM\\" + key_.substr(0, key_.rfind('\\')) +
                          "\" /f /reg:64");
#endif
  Add("/v ZBPath", "REG_SZ", "C:\\x");
  EXPECT_EQ(ReadRegistryString(key_ + "\\deeper", "ZBPath"), std::nullopt);
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), "C:\\x");
}

TEST_F(Registry, WritesAndDeletesValuesInThe32BitViewCreatingTheKey) {
  const std::string value = Utf8ToAnsi("C:\\Program Files (x86)\\Zorva\\招标工具");
  EXPECT_FALSE(platform::CanWriteRegistryKey(key_)) << "there is no such key yet";
  ASSERT_TRUE(platform::WriteRegistryString(key_, "ZBPath", value));
  EXPECT_TRUE(platform::CanWriteRegistryKey(key_));
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), value);
  ASSERT_TRUE(platform::WriteRegistryString(key_, "", "unnamed"));
  EXPECT_EQ(ReadRegistryString(key_, ""), "unnamed");
#ifdef _WIN64
  // Not in the 64-bit view, where the products' installers do not write.
  EXPECT_NE(testsupport::RunCommand("reg query \"HKLM\\" + key_ + "\" /v ZBPath /reg:64"), 0);
#endif
  ASSERT_TRUE(platform::DeleteRegistryValue(key_, "ZBPath"));
  EXPECT_EQ(ReadRegistryString(key_, "ZBPath"), "");
  EXPECT_EQ(ReadRegistryString(key_, ""), "unnamed");
  EXPECT_TRUE(platform::DeleteRegistryValue(key_, "ZBPath"));
  EXPECT_TRUE(platform::DeleteRegistryValue(key_ + "\\missing", "ZBPath"));
}

} // namespace

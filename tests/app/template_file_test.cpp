// Template names that may become file names and URL segments, and the
// version a downloaded template file claims.
#include "app/ExitStatus.h"
#include "app/TemplateFile.h"
#include "platform/CodePage.h"
#include "tests/archive/zip_fixtures.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Utf8ToAnsi;

TEST(TemplateName, PlainFileNamesPassAndEverythingElseIsRefusedWithItsName) {
  const std::string accepted[] = {
      Utf8ToAnsi("施工招标"), Utf8ToAnsi("施工 招标"), "a%41#+&;=~", " padded ", "v1.0",
      // Double-byte characters whose trail byte is '\' (乗, 嘰) or '|'.
      "\x81\x5C", "\x87\x5C", "\x81\x7C", "CONSOLE", "COM", "LPT10", "x.nul", "\x80"};
  for (const std::string& name : accepted)
    EXPECT_NO_THROW(CheckTemplateName(name)) << name;

  const std::string refused[] = {
      "", "  \t ", ".", "..", "../x", "a/b", "a\\b", "c:x", "a*", "a?", "a\"b", "<a", "a>", "a|b",
      "a\tb", "a\x7F", "con", "NUL.sfwb", "Aux .txt", "com1", "LPT9.a.b", "CONIN$", "clock$",
      // A lead byte without its trail byte, or with one no GBK character has.
      "a\x81", "\x81\x20", "\xFF"};
  for (const std::string& name : refused) {
    try {
      CheckTemplateName(name);
      ADD_FAILURE() << "accepted [" << name << "]";
    } catch (const EInvalidArgument& e) {
      EXPECT_EQ(e.what(), Utf8ToAnsi("模板名称无效：") + name);
      EXPECT_EQ(ExitStatusOf(e), TExitStatus::InvalidArguments);
    }
  }
}

TEST(TemplateVersion, OnlyAZipWhoseCommentNamesAVersionHasOne) {
  testsupport::TempFolder dir;
  const struct {
    const char* what;
    std::string bytes;
    std::optional<int32_t> version;
  } cases[] = {
      {"version 7", ziptest::BuildZip({{"a", "x"}}, "[Region]\r\nVersion=7\r\n").bytes, 7},
      {"blanks around it", ziptest::BuildZip({{"a", "x"}}, "[Region]\r\nVersion = 8 \t\r\n").bytes,
       8},
      {"another section", ziptest::BuildZip({{"a", "x"}}, "[Other]\r\nVersion=7\r\n").bytes,
       std::nullopt},
      {"no number", ziptest::BuildZip({{"a", "x"}}, "[Region]\r\nVersion=7a\r\n").bytes,
       std::nullopt},
      {"no comment", ziptest::BuildZip({{"a", "x"}}, "").bytes, std::nullopt},
      {"a web page", "<html>[Region]\r\nVersion=7\r\n</html>", std::nullopt},
  };
  for (const auto& c : cases) {
    dir.Write("t.sfwb", c.bytes);
    EXPECT_EQ(ReadTemplateVersion(dir.Ansi("t.sfwb")), c.version) << c.what;
  }
  EXPECT_EQ(ReadTemplateVersion(dir.Ansi("missing.sfwb")), std::nullopt);
}

} // namespace

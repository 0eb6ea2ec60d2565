// Template names that may become file names and URL segments. What a
// downloaded template file must claim is tested on the template road
// (template_refresh_test.cpp).
#include "app/ExitStatus.h"
#include "app/TemplateFile.h"
#include "platform/CodePage.h"

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

} // namespace

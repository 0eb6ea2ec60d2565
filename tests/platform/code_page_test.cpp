#include "platform/CodePage.h"

#include <gtest/gtest.h>

using platform::AnsiToUtf8;
using platform::Utf8ToAnsi;

TEST(CodePage, ChineseTextRoundTripsThroughGbk) {
  // 招标工具 in code page 936.
  const std::string gbk = "\xD5\xD0\xB1\xEA\xB9\xA4\xBE\xDF";
  EXPECT_EQ(Utf8ToAnsi("招标工具"), gbk);
  EXPECT_EQ(AnsiToUtf8(gbk), "招标工具");
  for (const char* text : {"", "plain ASCII", "卸载 招标工具.lnk", "出错了，重装程序可能解决问题。",
                           "SOFTWARE\\Zorva编标工具\\6.0"})
    EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(text)), text) << text;
}

TEST(CodePage, CharacterWithoutGbkFormBecomesQuestionMark) {
  EXPECT_EQ(Utf8ToAnsi("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToAnsi("😀😀"), "??");
  EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi("版本😀号")), "版本?号");
}

TEST(CodePage, InvalidUtf8GivesEmptyText) {
  for (const char* bad :
       {"\xC0\xAF", "abc\xFF", "\xED\xA0\x80", "\xE4\xB8", "\xF4\x90\x80\x80", "ok\x80"})
    EXPECT_EQ(Utf8ToAnsi(bad), "") << testing::PrintToString(std::string(bad));
}

TEST(CodePage, InvalidGbkBytesBecomeQuestionMarks) {
  EXPECT_EQ(AnsiToUtf8("a\xFF"
                       "b"),
            "a?b");
  // A lead byte cut off at the end of the text.
  EXPECT_EQ(AnsiToUtf8("a\xD5"), "a?");
}

TEST(CodePage, ExactConversionRefusesWhatGbkCannotHold) {
  EXPECT_EQ(platform::Utf8ToAnsiExact("上海 Region-1"), Utf8ToAnsi("上海 Region-1"));
  EXPECT_EQ(platform::Utf8ToAnsiExact(""), "");
  // A question mark that was written stays one.
  EXPECT_EQ(platform::Utf8ToAnsiExact("what?"), "what?");
  for (const char* lost : {"a😀b", "한국", "\xC0\xAF", "ok\x80"})
    EXPECT_EQ(platform::Utf8ToAnsiExact(lost), std::nullopt)
        << testing::PrintToString(std::string(lost));
}

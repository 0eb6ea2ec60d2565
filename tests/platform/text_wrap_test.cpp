// Line breaking of dialog texts, measured with a fixed-pitch width: one unit
// per ASCII character, two per other character (Chinese is double width).
#include "platform/TextWrap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

double Width(std::string_view s) {
  double w = 0;
  for (unsigned char c : s)
    w += c < 0x80 ? 1 : (c & 0xC0) == 0xC0 ? 2 : 0;
  return w;
}

TEST(TextWrap, BreaksAtBlanksBetweenChineseCharactersAndKeepsPunctuationBound) {
  struct Case {
    const char* text;
    double maxWidth;
    std::vector<std::string> lines;
  } cases[] = {
      {"", 10, {""}},
      {"short text", 20, {"short text"}},
      {"hello world again", 11, {"hello world", "again"}},
      {"一二三四五六七八", 10, {"一二三四五", "六七八"}},
      // A comma never starts a line: the character before it goes along.
      {"一二三四五，六七", 10, {"一二三四", "五，六七"}},
      // An opening bracket never ends a line.
      {"一二三（四）", 8, {"一二三", "（四）"}},
      {"版本V12已下载", 8, {"版本V12", "已下载"}},
      // A word longer than a line is cut; a character wider than the line
      // still gets a line of its own.
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"一二", 1, {"一", "二"}},
      {"a\r\nb\nc\rd", 10, {"a", "b", "c", "d"}},
      {"a\n\nb", 10, {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::WrapText(c.text, c.maxWidth, Width), c.lines);
  }
}

} // namespace

#include "common/XMLCompactString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(size_t length, char first) {
  std::string text(length, ' ');
  for (size_t i = 0; i < length; ++i)
    text[i] = static_cast<char>(first + i % 26);
  return text;
}

// Each step assigns a text of the given length to the same string, so that
// every change between kept inside, kept in a block of the same size, and
// moved to another block is taken, across the pool's classes and past them.
TEST(XmlCompactString, AssignKeepsTheTextAcrossEveryChangeOfStorage) {
  const size_t steps[] = {0,   15,  16,  0,   31,  32,  33, 17,   15, 1,  48, 40, 512, 511,
                          513, 600, 595, 608, 609, 700, 14, 5000, 0,  16, 64, 63, 0};
  TXMLString s;
  EXPECT_TRUE(s.empty());
  char first = 'a';
  for (size_t length : steps) {
    const std::string text = Text(length, first);
    s.assign(text);
    ASSERT_EQ(text, std::string(s.view())) << length;
    ASSERT_EQ(length, s.size());
    TXMLString copy(s);
    EXPECT_EQ(text, std::string(copy.view()));
    first = first == 'a' ? 'A' : 'a';
  }
  s.clear();
  EXPECT_TRUE(s.empty());
}

// A text taken from the string itself, as trimming a name does.
TEST(XmlCompactString, AssignFromItsOwnBytes) {
  for (size_t length : {10u, 15u, 17u, 20u, 40u, 600u}) {
    const std::string text = Text(length, 'a');
    TXMLString s(text);
    s.assign(s.view().substr(1, length - 2));
    EXPECT_EQ(text.substr(1, length - 2), std::string(s.view())) << length;
    const TXMLString& same = s;
    s = same;
    EXPECT_EQ(text.substr(1, length - 2), std::string(s.view())) << length;
  }
}

} // namespace

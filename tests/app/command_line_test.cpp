// Arguments of the program, converted from the locale's UTF-8 to ANSI.
#include "app/CommandLine.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, ArgumentsAfterTheProgramNameAreConvertedToAnsi) {
  const char* argv[] = {"/opt/update", "-ZB", "施工 招标", ""};
  auto args = CommandLineToAnsi(4, argv);
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], "-ZB");
  EXPECT_EQ(args[1], platform::Utf8ToAnsi("施工 招标"));
  EXPECT_EQ(args[2], "");
  EXPECT_TRUE(CommandLineToAnsi(1, argv).empty());
}

TEST(CommandLine, ArgumentThatIsNotUtf8IsKeptAsGiven) {
  // "施工" in GBK, as a GBK terminal would pass it; as UTF-8 it is invalid.
  const std::string gbk = platform::Utf8ToAnsi("施工");
  const char* argv[] = {"update", "-TB", gbk.c_str()};
  auto args = CommandLineToAnsi(3, argv);
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[1], gbk);
}

} // namespace

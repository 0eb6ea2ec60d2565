// Integer texts of the configuration and the manifests (a manifest's Version
// that is no integer counts as 0).
#include "common/IntegerText.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>

TEST(IntegerText, ReadsDecimalAndHexadecimalTextsThatFit32Bits) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"7", 7},
      {"  7", 7},
      {"+7", 7},
      {"-7", -7},
      {"$1F", 31},
      {"0x1f", 31},
      {"0X1F", 31},
      {"-$10", -16},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"$100000000", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"7 ", std::nullopt},
      {"1.5", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"$G", std::nullopt},
      {"seven", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(TextToInt32(c.text), c.value);
    EXPECT_EQ(StrToIntDef(c.text, 42), c.value.value_or(42));
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value);
    } else {
      try {
        StrToInt(c.text);
        ADD_FAILURE() << "no error";
      } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()),
                  std::string("'") + c.text + "' is not a valid integer value");
      }
    }
  }
}

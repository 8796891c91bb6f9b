#include "base/numbers.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ReadNumberTest, ReadsBase10AndKeepsTheLow32Bits) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"12abc", 12},
      {"", 0},
      {"abc", 0},
      {" 7", 7},
      {"\t\n-3", -3},
      {"+5", 5},
      {"4294967297", 1},
      {"4294967295", -1},
      {"2147483648", INT32_MIN},
      {"-2147483649", INT32_MAX},
      // Held at INT64_MAX, whose low 32 bits are all ones.
      {"99999999999999999999999", -1},
      {"-99999999999999999999999", 0},  // held at INT64_MIN
      {"- 5", 0},
      {"010", 10},
      {"1 2", 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, readNumber(c.text)) << c.text;
}

TEST(ReadNumberTest, SixtyFourBitValueIsHeldAtTheLimits) {
  EXPECT_EQ(INT64_MAX, readNumber64("9223372036854775808"));
  EXPECT_EQ(INT64_MIN, readNumber64("-9223372036854775808"));
  EXPECT_EQ(INT64_MIN, readNumber64("-99999999999999999999"));
  EXPECT_EQ(99999999999, readNumber64("99999999999"));
}

TEST(ReadInt32StrictTest, AcceptsOnlyNumbersWithinRange) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {{"25", true, 25},
               {"  25 and more", true, 25},
               {"-7", true, -7},
               {"", false, 0},
               {"abc", false, 0},
               {"-", false, 0},
               {"2147483647", true, INT32_MAX},
               {"2147483648", false, 0},
               {"-2147483648", true, INT32_MIN},
               {"-2147483649", false, 0}};
  for (const auto& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(c.ok, readInt32Strict(c.text, &value)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.value, value) << c.text;
    }
  }
}

TEST(ToDecimalTextTest, WritesSignedDecimal) {
  EXPECT_EQ("0", toDecimalText(0));
  EXPECT_EQ("11", toDecimalText(11));
  EXPECT_EQ("-7", toDecimalText(-7));
  EXPECT_EQ("2147483647", toDecimalText(INT32_MAX));
  EXPECT_EQ("-2147483648", toDecimalText(INT32_MIN));
}

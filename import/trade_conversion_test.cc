#include "import/trade_conversion.h"

#include <gtest/gtest.h>

#include "testing/installation.h"

namespace {
std::tm dateOf(int year, int month, int day) {
  std::tm date{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  return date;
}

SourceTrade tradeWith(const std::string& field12, const std::string& field20,
                      const std::string& field16) {
  SourceFields fields = sampleTrade("11", "key");
  fields[12] = field12;
  fields[20] = field20;
  fields[16] = field16;
  return parseSourceIndex(sourceLine(fields))[0];
}
}  // namespace

TEST(ConvertTradeTest, MapsEveryField) {
  SourceFields fields = sampleTrade("11", "the key");
  fields[3] = "title";
  fields[21] = "a21";
  fields[4] = "a4";
  fields[5] = "a5";
  fields[6] = "a6";
  fields[10] = "-9";
  fields[11] = "77";
  fields[16] = "160x";
  const SourceTrade trade = parseSourceIndex(sourceLine(fields))[0];
  const TargetTrade r =
      buildTargetTrade(trade, 42, "10.0.0.1", dateOf(2026, 12, 8));
  EXPECT_EQ(42, readInt32(r, kIdField));
  EXPECT_EQ("the key", readText(r, kKeyField));
  EXPECT_EQ("title", readText(r, kText3Field));
  EXPECT_EQ("a21", readText(r, kText21Field));
  EXPECT_EQ("a4", readText(r, kText4Field));
  EXPECT_EQ("a5", readText(r, kText5Field));
  EXPECT_EQ("a6", readText(r, kText6Field));
  EXPECT_EQ("added by 10.0.0.1 on 08 Dec, 2026", readText(r, kNoteField));
  EXPECT_EQ(0, readInt32(r, kPresetZeroField));
  EXPECT_EQ(160, readInt32(r, kNumber16Field));
  EXPECT_EQ(1, readInt32(r, kPresetOneField));
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(-1, readInt32(r, kPresetMinusField, i));
  EXPECT_EQ(-1, readInt32(r, kNumber20Field));
  EXPECT_EQ("", readText(r, kEmptyTextField));
  EXPECT_EQ(1, readInt32(r, kNumber12Field));  // the sample's field12 is 36
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(0, readInt32(r, kPresetZerosField, i));
  EXPECT_EQ(77, readInt32(r, kNumber11Field));
  for (std::size_t i = 0; i < 24; ++i)
    EXPECT_EQ(-9, readInt32(r, kSlots10Field, i));
}

TEST(ConvertTradeTest, NumberFieldsFollowTheirRules) {
  const struct {
    std::string field12, field20, field16;
    int32_t number12, number20, number16;
  } cases[] = {
      {"0", "", "", 0, -1, 0},    {"1", "0", "5", 1, 0, 5},
      {"2", "x", "", 2, 0, 0},    {"3", "12", "", 1, 12, 0},
      {"7", " -4", "", 1, -4, 0}, {"-1", "", "", 1, -1, 0},
  };
  for (const auto& c : cases) {
    const TargetTrade r = buildTargetTrade(
        tradeWith(c.field12, c.field20, c.field16), 11, "", dateOf(2027, 3, 5));
    EXPECT_EQ(c.number12, readInt32(r, kNumber12Field)) << c.field12;
    EXPECT_EQ(c.number20, readInt32(r, kNumber20Field)) << c.field20;
    EXPECT_EQ(c.number16, readInt32(r, kNumber16Field)) << c.field16;
  }
}

TEST(ConvertTradeTest, NoteWithoutAddressHasTwoBlanks) {
  EXPECT_EQ("added by  on 05 Mar, 2027", addedByNote("", dateOf(2027, 3, 5)));
}

TEST(ConvertTradeTest, OverlongTextIsCutToItsField) {
  SourceFields fields = sampleTrade("11", "k");
  fields[6] = std::string(40, 'x');
  const SourceTrade trade = parseSourceIndex(sourceLine(fields))[0];
  const TargetTrade r =
      buildTargetTrade(trade, 11, std::string(600, 'a'), dateOf(2026, 1, 1));
  EXPECT_EQ(std::string(14, 'x'), readText(r, kText6Field));
  EXPECT_EQ(515u, readText(r, kNoteField).size());
  EXPECT_EQ(0, readInt32(r, kPresetZeroField));  // the note did not spill over
}

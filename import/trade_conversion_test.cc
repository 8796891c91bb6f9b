#include "import/trade_conversion.h"

#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "import/target_index.h"
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

// A field written at the wrong offset or width does not come back: a trade
// whose fields all differ, each text as long as its field holds, is appended
// to the index and read back by the import's own reader.
TEST(ConvertTradeTest, EveryFieldComesBackFromTheTargetIndex) {
  const std::pair<std::string SourceTrade::*, Field> texts[] = {
      {&SourceTrade::key, kKeyField},
      {&SourceTrade::field3, kText3Field},
      {&SourceTrade::field21, kText21Field},
      {&SourceTrade::field4, kText4Field},
      {&SourceTrade::field5, kText5Field},
      {&SourceTrade::field6, kText6Field}};
  SourceTrade trade;
  char letter = 'a';
  for (const auto& [member, field] : texts)
    trade.*member = std::string(field.width - 1, letter++);
  trade.field16 = "160";
  trade.field20 = "-20";
  trade.field12 = 2;
  trade.field11 = 11;
  trade.field10 = -10;
  trade.presetNumbers[6] = 66;
  TempDir dir;
  writeFile(targetIndexPath(dir.path()), "");
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  ASSERT_TRUE(appendTargetTrade(
                  dir.path(),
                  buildTargetTrade(trade, 42, "10.0.0.1", dateOf(2026, 12, 8)),
                  &journal)
                  .ok());
  std::vector<TargetTrade> records;
  ASSERT_TRUE(readTargetIndex(folders, dir.path(), &records).ok());
  ASSERT_EQ(1u, records.size());
  for (const auto& [member, field] : texts)
    EXPECT_EQ(trade.*member, readText(records[0], field)) << field.offset;
  const std::tuple<Field, std::size_t, int32_t> numbers[] = {
      {kIdField, 0, 42},        {kNumber16Field, 0, 160},
      {kNumber20Field, 0, -20}, {kNumber12Field, 0, 2},
      {kNumber11Field, 0, 11},  {kPresetMinusField, 2, 66},
      {kSlots10Field, 0, -10},  {kSlots10Field, 23, -10}};
  for (const auto& [field, index, value] : numbers)
    EXPECT_EQ(value, readInt32(records[0], field, index)) << field.offset;
  // And back: the index read now knows the trade.
  EXPECT_TRUE(isKnownTrade(trade, KnownTradeKeys(records)));
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

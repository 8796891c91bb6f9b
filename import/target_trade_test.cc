#include "import/target_trade.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "testing/golden.h"

// The layout the browser test builds records from, testing/golden/
// record_layout.txt: every field at its offset and width, and the initial
// record byte for byte.
TEST(TargetTradeTest, FieldsAndInitialBytesMatchTheGoldenLayout) {
  const std::map<std::string, Field> fields = {
      {"id", kIdField},
      {"key", kKeyField},
      {"text3", kText3Field},
      {"text21", kText21Field},
      {"text4", kText4Field},
      {"text5", kText5Field},
      {"text6", kText6Field},
      {"note", kNoteField},
      {"presetZero", kPresetZeroField},
      {"number16", kNumber16Field},
      {"presetOne", kPresetOneField},
      {"presetMinus", kPresetMinusField},
      {"number20", kNumber20Field},
      {"emptyText", kEmptyTextField},
      {"number12", kNumber12Field},
      {"presetZeros", kPresetZerosField},
      {"number11", kNumber11Field},
      {"slots10", kSlots10Field},
  };
  std::istringstream layout(goldenText("record_layout.txt"));
  std::string expected;
  std::set<std::string> seen;
  for (std::string line; std::getline(layout, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string name, initial;
    std::size_t offset = 0, width = 0;
    words >> name >> offset >> width >> initial;
    ASSERT_EQ(1u, fields.count(name)) << line;
    EXPECT_EQ(offset, fields.at(name).offset) << line;
    EXPECT_EQ(width, fields.at(name).width) << line;
    EXPECT_EQ(expected.size(), offset) << "no gap before " << name;
    seen.insert(name);
    if (initial == "text") {
      expected.append(width, '\0');
      continue;
    }
    const uint32_t value =
        static_cast<uint32_t>(std::strtol(initial.c_str(), nullptr, 10));
    for (std::size_t i = 0; i < width; ++i)
      expected.push_back(static_cast<char>(value >> (8 * (i % 4))));
  }
  EXPECT_EQ(fields.size(), seen.size());
  TargetTrade record;
  std::fill(std::begin(record.bytes), std::end(record.bytes), 0xAB);
  initTargetTrade(&record);
  EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(record.bytes),
                                  kTargetTradeSize));
}

TEST(TargetTradeTest, IntegersAreLittleEndian) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kSlots10Field, 0x01020304, 23);
  EXPECT_EQ(0x04, record.bytes[992]);
  EXPECT_EQ(0x01, record.bytes[995]);
  writeInt32(&record, kIdField, -2);
  EXPECT_EQ(std::string("\xFE\xFF\xFF\xFF"),
            std::string(reinterpret_cast<char*>(record.bytes), 4));
  EXPECT_EQ(-2, readInt32(record, kIdField));
  EXPECT_EQ(0x01020304, readInt32(record, kSlots10Field, 23));
}

TEST(TargetTradeTest, TextStaysInsideItsField) {
  const struct {
    std::string text;
    std::string stored;
  } cases[] = {
      {std::string(14, 'a'), std::string(14, 'a')},
      {std::string(15, 'b'), std::string(14, 'b')},
      {std::string(500, 'c'), std::string(14, 'c')},
      {std::string("ab\0cd", 5), "ab"},
      {"", ""},
  };
  for (const auto& c : cases) {
    TargetTrade record;
    initTargetTrade(&record);
    // The next field, text4.
    std::fill(record.bytes + 219, record.bytes + 269, 0x55);
    writeText(&record, kText21Field, c.text);
    EXPECT_EQ(c.stored, readText(record, kText21Field)) << c.text;
    EXPECT_EQ(0, record.bytes[204 + 14])
        << "terminator at the field's last byte";
    EXPECT_EQ(0x55, record.bytes[219]) << "the next field is untouched";
  }
}

TEST(TargetTradeTest, KeyOf99BytesFitsAnd100DoesNot) {
  EXPECT_TRUE(fitsTextField(kKeyField, std::string(99, 'k')));
  EXPECT_FALSE(fitsTextField(kKeyField, std::string(100, 'k')));
  EXPECT_FALSE(fitsTextField(kKeyField, std::string("a\0b", 3)));
}

TEST(TargetTradeTest, FieldWithoutTerminatorReadsToItsEnd) {
  TargetTrade record;
  initTargetTrade(&record);
  std::fill(record.bytes + 4, record.bytes + 104, 'k');
  EXPECT_EQ(std::string(100, 'k'), readText(record, kKeyField));
}

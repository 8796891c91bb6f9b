#include "import/target_trade.h"

#include <gtest/gtest.h>

#include <string>

TEST(TargetTradeTest, InitialBytesMatchTheLayout) {
  TargetTrade record;
  std::fill(std::begin(record.bytes), std::end(record.bytes), 0xAB);
  initTargetTrade(&record);
  std::string expected(kTargetTradeSize, '\0');
  expected.replace(0, 4, "\xFF\xFF\xFF\xFF");
  expected.replace(828, 4, std::string("\x01\0\0\0", 4));
  expected.replace(832, 16, std::string(16, '\xFF'));
  expected.replace(880, 4, std::string("\x01\0\0\0", 4));
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
    std::fill(record.bytes + 219, record.bytes + 269,
              0x55);  // the next field, text4
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

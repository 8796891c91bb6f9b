#include "import/target_index.h"

#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "testing/installation.h"

TEST(ReadTargetIndexTest, ReadsWholeAndPartialRecords) {
  const std::string a = targetRecordBytes(11, "alpha");
  const std::string b = targetRecordBytes(12, "beta");
  const struct {
    std::string name;
    std::string contents;
    std::size_t records;
  } cases[] = {{"empty", "", 0},
               {"two whole", a + b, 2},
               {"1000 bytes", a + std::string("\x07\0\0\0", 4), 2},
               {"one byte", "x", 1}};
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(targetIndexPath(dir.path()), c.contents);
    std::vector<TargetTrade> records;
    ASSERT_TRUE(
        readTargetIndex(foldersOf(dir.path()), dir.path(), &records).ok())
        << c.name;
    EXPECT_EQ(c.records, records.size()) << c.name;
  }
}

TEST(ReadTargetIndexTest, ShortLastRecordKeepsInitialValuesAfterItsBytes) {
  TempDir dir;
  writeFile(targetIndexPath(dir.path()),
            targetRecordBytes(11, "a") + std::string("\x07\0\0\0", 4));
  std::vector<TargetTrade> records;
  ASSERT_TRUE(
      readTargetIndex(foldersOf(dir.path()), dir.path(), &records).ok());
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(7, readInt32(records[1], kIdField));
  EXPECT_EQ("", readText(records[1], kKeyField));
  EXPECT_EQ(1, readInt32(records[1], kPresetOneField));
  // Read and written again, a record gives back every byte, after terminators
  // too.
  std::string raw = targetRecordBytes(11, "a");
  raw[50] = 'z';
  writeFile(targetIndexPath(dir.path()), raw);
  ASSERT_TRUE(
      readTargetIndex(foldersOf(dir.path()), dir.path(), &records).ok());
  EXPECT_EQ(raw, std::string(reinterpret_cast<const char*>(records[0].bytes),
                             kTargetTradeSize));
}

TEST(IsKnownTradeTest, ComparesKeysByteForByte) {
  std::vector<TargetTrade> records(3);
  const char* keys[] = {"Key", "dup", "dup"};
  for (int i = 0; i < 3; ++i) {
    initTargetTrade(&records[static_cast<std::size_t>(i)]);
    writeText(&records[static_cast<std::size_t>(i)], kKeyField, keys[i]);
  }
  const KnownTradeKeys known(records);
  const struct {
    const char* key;
    bool known;
  } cases[] = {{"Key", true},
               {"key", false},
               {"Key ", false},
               {"dup", true},
               {"", false}};
  for (const auto& c : cases) {
    SourceTrade trade;
    trade.key = c.key;
    EXPECT_EQ(c.known, isKnownTrade(trade, known)) << c.key;
  }
}

TEST(AppendTargetTradeTest, AppendsWholeRecordsAndReportsOpenFailure) {
  TempDir dir;
  TargetTrade record;
  initTargetTrade(&record);
  writeFile(targetIndexPath(dir.path()), "");
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  ASSERT_TRUE(appendTargetTrade(dir.path(), record, &journal).ok());
  ASSERT_TRUE(appendTargetTrade(dir.path(), record, &journal).ok());
  EXPECT_EQ(2 * kTargetTradeSize, readFile(targetIndexPath(dir.path())).size());

  const FileError error =
      appendTargetTrade(dir.path() + "missing/", record, &journal);
  EXPECT_EQ(FileResult::openFailed, error.result);
  EXPECT_EQ(targetIndexPath(dir.path() + "missing/"), error.path);
}

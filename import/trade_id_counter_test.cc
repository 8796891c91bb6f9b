#include "import/trade_id_counter.h"

#include <gtest/gtest.h>

#include <climits>

#include "import/installation_paths.h"
#include "testing/installation.h"
#include "testing/temp_dir.h"

namespace {
LoadedTradeIds idsOf(const std::vector<int32_t>& ids) {
  std::vector<TargetTrade> records(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    initTargetTrade(&records[i]);
    writeInt32(&records[i], kIdField, ids[i]);
  }
  return collectTradeIds(records);
}
}  // namespace

TEST(NextFreeIdTest, WalksLoadedIdsAndAvoidsCollisions) {
  const struct {
    int32_t counter;
    std::vector<int32_t> loaded;
    int32_t expected;
  } cases[] = {
      {10, {}, 11},
      {10, {3, 7, 10}, 11},
      {10, {5, 11, 12, 13}, 14},
      {10, {11, 12, 20}, 14},
      {10, {20, 11}, 12},
      {10, {12, 11}, 13},  // the walk gives 12, which a record holds
      {10, {13, 11, 12, 12}, 14},
      {40, {1, 40, 39}, 41},
      {-5, {}, -4},
  };
  for (const auto& c : cases) {
    int32_t id = 0;
    ASSERT_TRUE(nextFreeId(c.counter, idsOf(c.loaded), &id)) << c.counter;
    EXPECT_EQ(c.expected, id)
        << "counter " << c.counter << ", " << c.loaded.size() << " ids";
  }
}

TEST(NextFreeIdTest, NoIdentifierPastTheLargest) {
  int32_t id = 0;
  EXPECT_FALSE(nextFreeId(INT32_MAX, idsOf({}), &id));
  EXPECT_FALSE(nextFreeId(INT32_MAX - 1, idsOf({INT32_MAX}), &id));
  ASSERT_TRUE(nextFreeId(INT32_MAX - 1, idsOf({}), &id));
  EXPECT_EQ(INT32_MAX, id);
}

TEST(ParseCounterTest, FallsBackToTen) {
  const struct {
    const char* text;
    int32_t counter;
  } cases[] = {
      {"10", 10},          {"", 10},   {" \n25 trades", 25},     {"abc", 10},
      {"99999999999", 10}, {"-3", -3}, {"2147483647", INT32_MAX}};
  for (const auto& c : cases)
    EXPECT_EQ(c.counter, parseCounter(c.text)) << c.text;
}

TEST(NextTradeIdTest, RewritesTheCounterInPlace) {
  TempDir dir;
  const std::string counter = counterPath(dir.path());
  writeFile(counter, "  40 old text");
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  int32_t id = 0;
  for (const int32_t expected : {41, 42, 43}) {
    ASSERT_TRUE(nextTradeId(dir.path(), idsOf({40, 12}), &journal, &id).ok());
    EXPECT_EQ(expected, id);
  }
  EXPECT_EQ("43", readFile(counter));
}

TEST(NextTradeIdTest, MissingCounterAndExhaustedCounterEndTheRun) {
  TempDir dir;
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  int32_t id = 0;
  const TradeIdError missing =
      nextTradeId(dir.path(), idsOf({}), &journal, &id);
  EXPECT_EQ(FileResult::openFailed, missing.where.result);
  EXPECT_EQ(counterPath(dir.path()), missing.where.path);
  EXPECT_FALSE(fileExists(counterPath(dir.path())));

  writeFile(counterPath(dir.path()), "2147483647");
  const Folders made = foldersOf(dir.path());
  FileJournal journalAfter(made);
  const TradeIdError exhausted =
      nextTradeId(dir.path(), idsOf({}), &journalAfter, &id);
  EXPECT_TRUE(exhausted.noFreeId);
  EXPECT_EQ(counterPath(dir.path()), exhausted.where.path);
  EXPECT_EQ("2147483647", readFile(counterPath(dir.path())));
}

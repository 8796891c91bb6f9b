#include "import/source_index.h"

#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "testing/installation.h"

TEST(ParseSourceIndexTest, FillsEveryMappedField) {
  SourceFields line;
  for (int i = 1; i <= 30; ++i) line[i] = "t" + std::to_string(i);
  line[10] = "10";
  line[11] = " -11x";
  line[12] = "12";
  line[13] = "4294967297";
  line[14] = "4294967295";
  line[15] = "abc";
  const std::vector<SourceTrade> trades = parseSourceIndex(sourceLine(line));
  ASSERT_EQ(1u, trades.size());
  const SourceTrade& t = trades[0];
  EXPECT_EQ("t1", t.field1);
  EXPECT_EQ("t2", t.key);
  EXPECT_EQ("t3", t.field3);
  EXPECT_EQ("t4", t.field4);
  EXPECT_EQ("t5", t.field5);
  EXPECT_EQ("t6", t.field6);
  EXPECT_EQ("t7", t.field7);
  EXPECT_EQ("t8", t.field8);
  EXPECT_EQ(10, t.field10);
  EXPECT_EQ(-11, t.field11);
  EXPECT_EQ(12, t.field12);
  EXPECT_EQ(1, t.field13);
  EXPECT_EQ(-1, t.field14);
  EXPECT_EQ(0, t.field15);
  EXPECT_EQ("t16", t.field16);
  EXPECT_EQ("t17", t.field17);
  EXPECT_EQ("t18", t.field18);
  EXPECT_EQ("t19", t.field19);
  EXPECT_EQ("t20", t.field20);
  EXPECT_EQ("t21", t.field21);
}

TEST(ParseSourceIndexTest, CountsPiecesOverTheWholeFile) {
  const std::string one = sourceLine(sampleTrade("11", "one"));
  const std::string two = sourceLine(sampleTrade("12", "two"));
  const struct {
    std::string name;
    std::string contents;
    std::vector<std::string> keys;
  } cases[] = {
      {"empty", "", {}},
      {"two lines", one + two, {"one", "two"}},
      {"no final newline", one + two.substr(0, two.size() - 1), {"one", "two"}},
      {"text before the first bar", "title" + one, {"one"}},
      {"blank lines between", one + "\n\r\n\n" + two, {"one", "two"}},
      {"crlf line ends",
       one.substr(0, one.size() - 1) + "\r\n" + two,
       {"one", "two"}},
      {"cut short", one + "|13|short", {"one", "short"}},
      {"no bar at all", "just text\n", {}},
      {"extra field shifts what follows", "|x" + one, {"11", ""}},
      {"missing leading bar shifts fields early",
       one + two.substr(1),
       {"one", "v3"}},
  };
  for (const auto& c : cases) {
    const std::vector<SourceTrade> trades = parseSourceIndex(c.contents);
    std::vector<std::string> keys;
    for (const SourceTrade& trade : trades) keys.push_back(trade.key);
    EXPECT_EQ(c.keys, keys) << c.name;
  }
}

TEST(ParseSourceIndexTest, TextKeepsSpacesAndDuplicateKeysStay) {
  SourceFields a = sampleTrade("11", " k ");
  const std::vector<SourceTrade> trades =
      parseSourceIndex(sourceLine(a) + sourceLine(a));
  ASSERT_EQ(2u, trades.size());
  EXPECT_EQ(" k ", trades[0].key);
  EXPECT_EQ(" k ", trades[1].key);
}

TEST(ReadSourceIndexTest, MissingFileIsAnOpenFailure) {
  std::string contents;
  const FileError error =
      readSourceIndex(Folders(), "/nonexistent/", &contents);
  EXPECT_EQ(FileResult::openFailed, error.result);
  EXPECT_EQ(sourceIndexPath("/nonexistent/"), error.path);
}

TEST(SourceTradeReaderTest, EachTradeStartsFromInitialValues) {
  const std::string text = sourceLine(sampleTrade("11", "full")) + "|13|short";
  SourceTradeReader reader(text);
  SourceTrade trade;
  ASSERT_TRUE(reader.next(&trade));
  EXPECT_EQ("v3", trade.field3);
  ASSERT_TRUE(reader.next(&trade));
  EXPECT_EQ("short", trade.key);
  EXPECT_EQ("", trade.field3);
  EXPECT_EQ(0, trade.field10);
  EXPECT_FALSE(reader.next(&trade));
  EXPECT_FALSE(reader.next(&trade));
}

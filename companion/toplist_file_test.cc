#include "companion/toplist_file.h"

#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "import/source_index.h"
#include "testing/installation.h"

namespace {
int64_t breakIndexOf(const std::string& text, std::size_t chunk) {
  BreakIndexScanner scanner;
  for (std::size_t i = 0; i < text.size(); i += chunk) {
    if (scanner.feed(std::string_view(text).substr(i, chunk))) break;
  }
  return scanner.breakIndex();
}
}  // namespace

TEST(BreakIndexTest, NumbersPiecesFromMinusOne) {
  const struct {
    const char* text;
    int64_t breakIndex;
  } cases[] = {
      {"", -1},
      {"|A|B|C|\n", 3},
      {"|1|2|3|4|5|6|\n|x|\n", 6},
      {"|a|b|c|d|e|f|", -1},  // no line feed after a '|'
      // The first piece's line feed is passed over.
      {"title\n|1|2|3|4|5|6|\n", 6},
      {"|a|b\r|c|\n", 3},  // a carriage return is ordinary
      {"|\n|", 0},
      {"\n\n|a|\n", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.breakIndex, breakIndexOf(c.text, 1000)) << c.text;
    EXPECT_EQ(c.breakIndex, breakIndexOf(c.text, 1)) << "bytewise " << c.text;
  }
}

TEST(ToplistLineTest, FillsUpToTheFirstLinesWidth) {
  SourceFields fields = sampleTrade("11", "key");
  fields[17] = "s17";
  fields[18] = "";
  fields[19] = "s19";
  const SourceTrade trade = parseSourceIndex(sourceLine(fields))[0];
  EXPECT_EQ("|key|s17||s19|\n", toplistLine(trade, -1));
  EXPECT_EQ("|key|s17||s19|\n", toplistLine(trade, 4));
  EXPECT_EQ("|key|s17||s19|||\n", toplistLine(trade, 6));
}

TEST(AppendToplistLineTest, AppendsAndKeepsTheWidthForLaterTrades) {
  TempDir dir;
  const std::string path = toplistPath(dir.path());
  writeFile(path, "");
  const SourceTrade trade =
      parseSourceIndex(sourceLine(sampleTrade("11", "k")))[0];
  FileError error;
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  ASSERT_TRUE(appendToplistLine(dir.path(), trade, &journal, &error));
  ASSERT_TRUE(appendToplistLine(dir.path(), trade, &journal, &error));
  EXPECT_EQ("|k|v17|v18|v19|\n|k|v17|v18|v19|\n", readFile(path));

  writeFile(path, "Top list\n|1|2|3|4|5|6|\n");
  ASSERT_TRUE(appendToplistLine(dir.path(), trade, &journal, &error));
  EXPECT_EQ("Top list\n|1|2|3|4|5|6|\n|k|v17|v18|v19|||\n", readFile(path));
}

TEST(AppendToplistLineTest, MissingFileIsAnErrorEvenThoughAppendWouldCreateIt) {
  TempDir dir;
  const SourceTrade trade =
      parseSourceIndex(sourceLine(sampleTrade("11", "k")))[0];
  FileError error;
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  EXPECT_FALSE(appendToplistLine(dir.path(), trade, &journal, &error));
  EXPECT_FALSE(fileExists(toplistPath(dir.path())));
  EXPECT_EQ(FileResult::openFailed, error.result);
  EXPECT_EQ(toplistPath(dir.path()), error.path);
}

#include "companion/companion_formats.h"

#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "import/source_index.h"
#include "testing/installation.h"

namespace {
SourceTrade tradeWithCaps(const std::string& c13, const std::string& c14,
                          const std::string& c15) {
  SourceFields fields = sampleTrade("11", "k");
  fields[13] = c13;
  fields[14] = c14;
  fields[15] = c15;
  return parseSourceIndex(sourceLine(fields))[0];
}

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

TEST(CapsLinesTest, KeepSignsAndDefaultToZero) {
  EXPECT_EQ("|11|1|0|\n|11|2|5|\n|11|3|-7|\n",
            capsLines(11, tradeWithCaps("", "5", "-7")));
  EXPECT_EQ("|-3|1|0|\n|-3|2|0|\n|-3|3|2|\n",
            capsLines(-3, tradeWithCaps("abc", "0", "2x")));
}

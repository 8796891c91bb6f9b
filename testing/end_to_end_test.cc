// Whole runs over real installations: through the built program's CGI
// interface where the environment matters, in process otherwise.
#include <gtest/gtest.h>

#include "import/installation_paths.h"
#include "import/target_trade.h"
#include "testing/cgi_runner.h"
#include "testing/expected_import.h"
#include "testing/expected_page.h"
#include "testing/installation.h"

namespace {

// CgiRequest's SCRIPT_FILENAME.
const std::string kScript = "/srv/cgi-bin/convert.cgi";

TEST(EndToEndTest, EnvironmentDecidesThePageShape) {
  CgiRequest noScript;
  noScript.scriptFilename.reset();
  CgiRequest emptyLength = postRequest("a=1&b=2&c=3");
  emptyLength.contentLength = "";
  // lighttpd's page load.
  CgiRequest getWithNoBody;
  getWithNoBody.contentLength = "0";
  // A body that reaches the program in many pieces: cut short, it would not
  // hold three values.
  const std::string longPath(1 << 18, 'x');
  const struct {
    const char* name;
    CgiRequest request;
    std::string page;
  } cases[] = {
      {"page load", CgiRequest(), pageHead(kScript) + closingBlock()},
      {"no SCRIPT_FILENAME", noScript, pageHead("") + closingBlock()},
      // Set, however empty, CONTENT_LENGTH means a form was posted, but
      // with a GET that announces no body.
      {"empty CONTENT_LENGTH", emptyLength,
       pageHead(kScript) + incorrectFormData()},
      {"GET with CONTENT_LENGTH 0", getWithNoBody,
       pageHead(kScript) + closingBlock()},
      {"POST with an empty body", postRequest(""),
       pageHead(kScript) + incorrectFormData()},
      {"body larger than a pipe holds",
       postRequest("a=" + longPath + "&b=%2Fnone%2F&c=submit"),
       pageHead(kScript) + loadingLine() +
           errorBlock(ErrorLead::openFailed, sourceIndexPath(longPath), false)},
  };
  for (const auto& c : cases) {
    const CgiResult result = runConvertCgi(c.request);
    EXPECT_EQ(c.page, result.page) << c.name;
    EXPECT_EQ(0, result.exitStatus) << c.name;
  }
}

TEST(EndToEndTest, TypicalRequestConvertsByteForByte) {
  Installations in;
  in.writeSourceIndex({sampleTrade("20", "known"), sampleTrade("12", "second"),
                       sampleTrade("13", "third")});
  const std::string existing = targetRecordBytes(5, "known");
  in.writeTargetIndex({existing});

  const CgiResult result =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(0, result.exitStatus);
  EXPECT_EQ(pageHead(kScript) + loadingLine() + skippingLine("known") +
                addedLine("second") + addedLine("third") + closingBlock(),
            result.page);

  const std::string note = addedByNoteToday("192.0.2.7");
  EXPECT_EQ("12", in.targetFile(counterPath));
  EXPECT_EQ(existing + sampleTradeRecord(11, "second", note) +
                sampleTradeRecord(12, "third", note),
            in.targetFile(targetIndexPath));
  EXPECT_EQ("|a|b|c|d|e|f|\n" + sampleToplistLine("second") +
                sampleToplistLine("third"),
            in.targetFile(toplistPath));
  EXPECT_EQ(sampleCapsLines(11) + sampleCapsLines(12), in.targetFile(capsPath));
  EXPECT_EQ(sampleSummaryLine(11) + sampleSummaryLine(12),
            in.targetFile(summaryPath));
  for (const char* id : {"11", "12"}) {
    const std::string path = statsFilePath(in.target, id);
    EXPECT_EQ(std::string(80640, '\0'), readFile(path)) << path;
    EXPECT_EQ(0777, fileMode(path)) << path;
  }
  for (const char* key : {"second", "third"}) {
    const std::string path = historyFilePath(in.target, key);
    EXPECT_EQ("", readFile(path)) << path;
    EXPECT_EQ(0777, fileMode(path)) << path;
  }

  // A second run finds every trade in the index and changes nothing.
  const CgiResult again =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(pageHead(kScript) + loadingLine() + skippingLine("known") +
                skippingLine("second") + skippingLine("third") + closingBlock(),
            again.page);
  EXPECT_EQ("12", in.targetFile(counterPath));
}

TEST(EndToEndTest, NumberTestAndDuplicateKeys) {
  Installations in;
  in.writeSourceIndex({sampleTrade("10", "ten"), sampleTrade("abc", "letters"),
                       sampleTrade(" 11x", "twin"), sampleTrade("99", "twin"),
                       sampleTrade("5", "known")});
  in.writeTargetIndex(
      {targetRecordBytes(11, "known"), targetRecordBytes(12, "other")});
  EXPECT_EQ(
      loadingLine() + addedLine("twin") + addedLine("twin") +
          skippingLine("known") + closingBlock(),
      pageAfterForm(runInProcess(postRequest(formBody(in.source, in.target)))));
  // Counter 10 with loaded ids 11, 12: the walk gives 13, then one apart.
  EXPECT_EQ("14", in.targetFile(counterPath));
  const std::string index = in.targetFile(targetIndexPath);
  ASSERT_EQ(4 * kTargetTradeSize, index.size());
  TargetTrade record;
  for (std::size_t i = 2; i < 4; ++i) {
    std::copy(index.begin() + static_cast<long>(i * kTargetTradeSize),
              index.begin() + static_cast<long>((i + 1) * kTargetTradeSize),
              record.bytes);
    EXPECT_EQ(static_cast<int32_t>(11 + i), readInt32(record, kIdField));
  }
}

}  // namespace

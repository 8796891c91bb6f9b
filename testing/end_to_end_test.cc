// Runs the built program through its CGI interface over real installations.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "import/target_trade.h"
#include "testing/cgi_runner.h"
#include "testing/installation.h"
#include "testing/test_util.h"

namespace {

std::string expectedHead(const std::string& scriptFilename) {
  return "Content-type: text/html\r\n\r\n"
         "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
         "\"http://www.w3.org/TR/html4/strict.dtd\">\n"
         "<html>\n<head>\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=utf-8\">\n"
         "<title>Tolvane 3 - Kavrel v2 converter</title>\n"
         "<style type=\"text/css\">\n"
         "html{margin:0; padding:0; border:none}\n"
         "body{ line-height:normal;  margin:0;  padding:0;  "
         "font-family:Verdana,Tahoma,Arial; "
         "font-size:8.5pt; color:#000; background-color:#FFF;  border:none;}\n"
         ".formy{font-size:10px; font-family:Verdana,Tahoma,Arial; "
         "background-color:#fff; "
         "border:1px solid #555}\n"
         "</style>\n</head>\n<body>\n"
         "<div style=\"width:50%; margin-left:auto; margin-right:auto; "
         "border:1px solid #ccc; "
         "border-top:none;\"><form action=\"convert.cgi\" method=\"post\">\n"
         "<div id=\"form_container\">\n"
         "current path of convert.cgi <span style=\"font-weight:bold;\">" +
         scriptFilename +
         "</span>\n<br><br>\n"
         "path to tolvane 3 <span "
         "style=\"font-weight:bold;\">cgi-bin/tn3/</span> directory - "
         "<input type=\"text\" name=\"tolvane3\" value=\"\" size=\"80\" "
         "class=\"formy\">\n"
         "<br><br>\n"
         "path to kavrel v2 <span "
         "style=\"font-weight:bold;\">cgi-bin/kv2/</span> directory - "
         "<input type=\"text\" name=\"kavrelv2\" value=\"\" size=\"80\" "
         "class=\"formy\">\n"
         "<br><br>\n"
         "<input type=\"submit\" name=\"submit\" value=\"submit\" "
         "class=\"formy\">\n"
         "</div>\n</form>\n";
}

}  // namespace

TEST(EndToEndTest, PageShapesAreByteExact) {
  CgiRequest load;
  EXPECT_EQ(
      expectedHead("/srv/cgi-bin/convert.cgi") + std::string(kClosingBlock),
      runConvertCgi(load).page);

  CgiRequest noScript;
  noScript.scriptFilename.reset();
  EXPECT_EQ(expectedHead("") + std::string(kClosingBlock),
            runConvertCgi(noScript).page);

  CgiRequest escaped;
  escaped.scriptFilename = "/srv/<a href='x'>&\"";
  EXPECT_EQ(expectedHead("/srv/&lt;a href=&#39;x&#39;&gt;&amp;&quot;") +
                std::string(kClosingBlock),
            runConvertCgi(escaped).page);

  const CgiResult wrong = runConvertCgi(postRequest("a=1&b=2"));
  EXPECT_EQ(expectedHead("/srv/cgi-bin/convert.cgi") + "incorrect form data",
            wrong.page);
  EXPECT_EQ(0, wrong.exitStatus);

  const CgiResult missing =
      runConvertCgi(postRequest("a=%2Fnone%2F&b=%2Fnone%2F&c=submit"));
  EXPECT_EQ(
      expectedHead("/srv/cgi-bin/convert.cgi") + std::string(kLoadingLine) +
          expectedErrorBlock("Unable to open file", "/none/d/t/index", false),
      missing.page);
  EXPECT_EQ(0, missing.exitStatus);
}

TEST(EndToEndTest, ContentLengthFaults) {
  const struct {
    std::optional<std::string> contentLength;
    std::string body;
    bool accepted;
  } cases[] = {
      {std::string("-1"), "a=1&b=2&c=3", false},
      {std::string("abc"), "a=1&b=2&c=3", false},
      {std::string("0"), "a=1&b=2&c=3", false},
      {std::string(""), "a=1&b=2&c=3", false},
      {std::string("99999999999"), "a=%2Fnone%2F&b=2&c=3", true},
      {std::string("999999999999999999999999"), "a=%2Fnone%2F&b=2&c=3", true},
  };
  for (const auto& c : cases) {
    CgiRequest request;
    request.contentLength = c.contentLength;
    request.body = c.body;
    const CgiResult result = runConvertCgi(request);
    EXPECT_EQ(0, result.exitStatus) << *c.contentLength;
    const bool accepted =
        result.page.find(std::string(kLoadingLine)) != std::string::npos;
    EXPECT_EQ(c.accepted, accepted) << *c.contentLength;
    if (!accepted) {
      EXPECT_EQ("incorrect form data",
                result.page.substr(result.page.size() - 19));
    }
  }
}

TEST(EndToEndTest, TypicalRequestConvertsByteForByte) {
  Installations in;
  in.writeSourceIndex({sampleTrade("20", "known"), sampleTrade("12", "second"),
                       sampleTrade("13", "third")});
  const std::string existing = targetRecordBytes(5, "known");
  in.writeTargetIndex({existing});
  writeFile(in.target + "d/tl.a1", "|a|b|c|d|e|f|\n");

  const CgiResult result =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(0, result.exitStatus);
  EXPECT_EQ(expectedHead("/srv/cgi-bin/convert.cgi") +
                std::string(kLoadingLine) +
                "skipping known - already exists in database<br>"
                "added second<br>added third<br>" +
                std::string(kClosingBlock),
            result.page);

  const std::string note = addedByNoteToday("192.0.2.7");
  EXPECT_EQ("12", in.targetFile("d/t/i"));
  EXPECT_EQ(existing + sampleTradeRecord(11, "second", note) +
                sampleTradeRecord(12, "third", note),
            in.targetFile("d/t/index"));
  EXPECT_EQ("|a|b|c|d|e|f|\n|second|v17|v18|v19|||\n|third|v17|v18|v19|||\n",
            in.targetFile("d/tl.a1"));
  EXPECT_EQ(
      "|11|1|39|\n|11|2|42|\n|11|3|45|\n|12|1|39|\n|12|2|42|\n|12|3|45|\n",
      in.targetFile("d/caps"));
  EXPECT_EQ(sampleSummaryLine(11) + sampleSummaryLine(12),
            in.targetFile("d/t/sum"));
  for (const char* file : {"d/t/11", "d/t/12"}) {
    EXPECT_EQ(std::string(80640, '\0'), in.targetFile(file)) << file;
    EXPECT_EQ(0777, fileMode(in.target + file)) << file;
  }
  for (const char* file : {"d/h/second.his", "d/h/third.his"}) {
    EXPECT_EQ("", in.targetFile(file)) << file;
    EXPECT_EQ(0777, fileMode(in.target + file)) << file;
  }

  // A second run finds every trade in the index and changes nothing.
  const CgiResult again =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(expectedHead("/srv/cgi-bin/convert.cgi") +
                std::string(kLoadingLine) +
                "skipping known - already exists in database<br>"
                "skipping second - already exists in database<br>"
                "skipping third - already exists in database<br>" +
                std::string(kClosingBlock),
            again.page);
  EXPECT_EQ("12", in.targetFile("d/t/i"));
}

TEST(EndToEndTest, NumberTestKeyRulesAndDuplicates) {
  Installations in;
  in.writeSourceIndex(
      {sampleTrade("10", "ten"), sampleTrade("abc", "letters"),
       sampleTrade(" 11x", "twin"), sampleTrade("99", "twin"),
       sampleTrade("5", "known"), sampleTrade("12", std::string(100, 'k')),
       sampleTrade("12", std::string(99, 'n')), sampleTrade("12", "<&>")});
  in.writeTargetIndex(
      {targetRecordBytes(11, "known"), targetRecordBytes(12, "other")});
  const CgiResult result =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(expectedHead("/srv/cgi-bin/convert.cgi") +
                std::string(kLoadingLine) +
                "added twin<br>added twin<br>"
                "skipping known - already exists in database<br>"
                "skipping " +
                std::string(100, 'k') +
                " - trade key cannot be stored<br>"
                "added " +
                std::string(99, 'n') + "<br>added &lt;&amp;&gt;<br>" +
                std::string(kClosingBlock),
            result.page);
  // Counter 10 with loaded ids 11, 12: the walk gives 13, then one apart.
  EXPECT_EQ("16", in.targetFile("d/t/i"));
  const std::string index = in.targetFile("d/t/index");
  ASSERT_EQ(6 * kTargetTradeSize, index.size());
  TargetTrade record;
  for (std::size_t i = 2; i < 6; ++i) {
    std::copy(index.begin() + static_cast<long>(i * kTargetTradeSize),
              index.begin() + static_cast<long>((i + 1) * kTargetTradeSize),
              record.bytes);
    EXPECT_EQ(static_cast<int32_t>(11 + i), readInt32(record, kIdField));
  }
  EXPECT_TRUE(fileExists(in.target + "d/h/<&>.his"));
}

TEST(EndToEndTest, FailureInsideTheLoopUndoesTheTradeAndTheNextRunImportsIt) {
  Installations in;
  in.writeSourceIndex(
      {sampleTrade("12", "first"), sampleTrade("13", "second")});
  // The caps file cannot be opened: it is a directory.
  std::remove((in.target + "d/caps").c_str());
  makeDirectories(in.target + "d/caps");
  const FileTree before = readTree(in.target);
  const CgiResult result =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(
      expectedHead("/srv/cgi-bin/convert.cgi") + std::string(kLoadingLine) +
          expectedErrorBlock("Unable to open file", in.target + "d/caps", true),
      result.page);
  // The counter, the record and the toplist line of that trade are gone.
  EXPECT_EQ(describeTree(before), describeTree(readTree(in.target)));

  // Once the cause is fixed, the next run imports that trade whole.
  std::filesystem::remove(in.target + "d/caps");
  const CgiResult next =
      runConvertCgi(postRequest(formBody(in.source, in.target)));
  EXPECT_NE(std::string::npos,
            next.page.find(std::string(kLoadingLine) +
                           "added first<br>added second<br>" +
                           std::string(kClosingBlock)));
  EXPECT_EQ(sampleCapsLines(11) + sampleCapsLines(12), in.targetFile("d/caps"));
  EXPECT_EQ("12", in.targetFile("d/t/i"));
}

TEST(EndToEndTest, PathWithZeroByteOpensNothing) {
  Installations in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  const std::string raw =
      "a=" + in.source + "&b=" + in.target + "%00x&c=submit";
  const CgiResult result = runConvertCgi(postRequest(raw));
  EXPECT_NE(std::string::npos,
            result.page.find("Unable to open file <b>" + in.target));
  EXPECT_EQ("10", in.targetFile("d/t/i"));
  EXPECT_EQ("", in.targetFile("d/t/index"));
}

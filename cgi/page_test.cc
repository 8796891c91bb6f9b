#include "cgi/page.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(PageTest, WriteEscapedReplacesTheFiveMarkupCharacters) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {{"a&b", "a&amp;b"},     {"<b>", "&lt;b&gt;"},
               {"\"'", "&quot;&#39;"}, {"plain /x;$(y)`z`", "plain /x;$(y)`z`"},
               {"&amp;", "&amp;amp;"}, {"", ""}};
  for (const auto& c : cases) {
    std::ostringstream page;
    writeEscaped(page, c.input);
    EXPECT_EQ(c.expected, page.str()) << c.input;
  }
}

TEST(PageTest, PageHeadStartsWithTheHeaderAndStrictDoctype) {
  std::ostringstream page;
  writePageHead(page, "/srv/a&b.cgi");
  const std::string text = page.str();
  EXPECT_EQ(0u,
            text.find("Content-type: text/html\r\n\r\n<!DOCTYPE HTML PUBLIC "
                      "\"-//W3C//DTD HTML 4.01//EN\" "
                      "\"http://www.w3.org/TR/html4/strict.dtd\">\n<html>\n"));
  EXPECT_NE(
      std::string::npos,
      text.find("current path of convert.cgi <span style=\"font-weight:bold;\">"
                "/srv/a&amp;b.cgi</span>\n<br><br>\n"));
  EXPECT_EQ("</div>\n</form>\n", text.substr(text.size() - 15));
}

TEST(PageTest, ErrorBlocksAreByteExact) {
  const std::string head =
      "<div align=center>\n<font style=\"font:normal 8pt arial;\";><font "
      "style=\"color:red;\"><b>Error</b></font><br>\n";
  const std::string please =
      "Please check file permissions and try again<br>\n<br><br>\n";
  const std::string link =
      "<a href=\"convert.cgi\">click here to return to convert.cgi</a><br>\n";
  const std::string tail = "</font></div></body>\n</html>";

  std::ostringstream noLink;
  writeFileErrorPage(noLink, "/x/<d>/t/index", "");
  EXPECT_EQ(head + "Unable to open file <b>/x/&lt;d&gt;/t/index</b><br>\n" +
                please + tail,
            noLink.str());

  std::ostringstream withLink;
  writeFileErrorPage(withLink, "/x/d/caps", kReturnLink);
  EXPECT_EQ(head + "Unable to open file <b>/x/d/caps</b><br>\n" + please +
                link + tail,
            withLink.str());

  std::ostringstream writeFailed;
  EXPECT_FALSE(reportFileResult(writeFailed, FileResult::writeFailed,
                                "/x/d/t/sum", kReturnLink));
  EXPECT_EQ(head + "Unable to write file <b>/x/d/t/sum</b><br>\n" + please +
                link + tail,
            writeFailed.str());

  std::ostringstream noId;
  writeNoFreeIdPage(noId, "/x/d/t/i");
  EXPECT_EQ(head + "No free trade identifier in <b>/x/d/t/i</b><br>\n" +
                please + link + tail,
            noId.str());

  std::ostringstream ok;
  EXPECT_TRUE(reportFileResult(ok, FileResult::ok, "/x", kReturnLink));
  EXPECT_EQ("", ok.str());
}

TEST(PageTest, ProgressLinesEscapeTheKey) {
  std::ostringstream page;
  writeSkippingLine(page, "<k>");
  writeAddedLine(page, "a&b");
  writeUnstorableKeyLine(page, "'");
  EXPECT_EQ(
      "skipping &lt;k&gt; - already exists in database<br>added a&amp;b<br>"
      "skipping &#39; - trade key cannot be stored<br>",
      page.str());
}

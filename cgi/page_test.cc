// The one place where the program's page texts are held byte for byte against
// the golden files; every other test takes them as given.
#include "cgi/page.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "testing/expected_page.h"

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

TEST(PageTest, EveryTextMatchesItsGoldenFile) {
  using Write = std::function<void(std::ostream&)>;
  const struct {
    const char* name;
    Write write;
    std::string expected;
  } cases[] = {
      {"page head", [](std::ostream& p) { writePageHead(p, "/srv/a&b.cgi"); },
       pageHead("/srv/a&amp;b.cgi")},
      {"incorrect form data", writeIncorrectFormData, incorrectFormData()},
      {"loading line", writeLoadingLine, loadingLine()},
      {"waiting line", writeWaitingLine, waitingLine()},
      {"skipping line", [](std::ostream& p) { writeSkippingLine(p, "<k>"); },
       skippingLine("&lt;k&gt;")},
      {"unstorable key",
       [](std::ostream& p) { writeUnstorableKeyLine(p, "'"); },
       unstorableKeyLine("&#39;")},
      {"added line", [](std::ostream& p) { writeAddedLine(p, "a&b"); },
       addedLine("a&amp;b")},
      {"closing block", writeClosingBlock, closingBlock()},
      {"open error, no link",
       [](std::ostream& p) { writeFileErrorPage(p, "/x/<d>/t/index", ""); },
       errorBlock(ErrorLead::openFailed, "/x/&lt;d&gt;/t/index", false)},
      {"open error, link",
       [](std::ostream& p) { writeFileErrorPage(p, "/x/d/caps", kReturnLink); },
       errorBlock(ErrorLead::openFailed, "/x/d/caps", true)},
      {"read error",
       [](std::ostream& p) {
         EXPECT_FALSE(reportFileResult(p, FileResult::readFailed, "/x/d/tl.a1",
                                       kReturnLink));
       },
       errorBlock(ErrorLead::readFailed, "/x/d/tl.a1", true)},
      {"write error",
       [](std::ostream& p) {
         EXPECT_FALSE(
             reportFileResult(p, FileResult::writeFailed, "/x/d/t/sum", ""));
       },
       errorBlock(ErrorLead::writeFailed, "/x/d/t/sum", false)},
      {"no free id", [](std::ostream& p) { writeNoFreeIdPage(p, "/x/d/t/i"); },
       errorBlock(ErrorLead::noFreeId, "/x/d/t/i", true)},
      {"folder others can change",
       [](std::ostream& p) {
         reportFileResult(p, FileResult::othersCanChange, "/x/<d>",
                          kReturnLink);
       },
       errorBlock(ErrorLead::othersCanChange, "/x/&lt;d&gt;", true)},
      {"folder of another user's group, escaped",
       [](std::ostream& p) {
         reportFailure(p, {FileResult::groupCanChange, "/x/d/t", "<g>"},
                       kReturnLink);
       },
       errorBlock(ErrorLead::groupCanChange, "/x/d/t", true, "&lt;g&gt;")},
      {"folder of another user",
       [](std::ostream& p) {
         reportFailure(p, {FileResult::otherOwner, "/x", "bob"}, kReturnLink);
       },
       errorBlock(ErrorLead::otherOwner, "/x", true, "bob")},
      {"lock of another user",
       [](std::ostream& p) {
         reportFailure(p, {FileResult::otherUsersLock, "/x/l", "bob"}, "");
       },
       errorBlock(ErrorLead::otherUsersLock, "/x/l", false, "bob")},
      {"log of someone else",
       [](std::ostream& p) {
         reportFileResult(p, FileResult::notOwnLog, "/x/d/t/log", kReturnLink);
       },
       errorBlock(ErrorLead::notOwnLog, "/x/d/t/log", true)},
      {"unknown records in the index",
       [](std::ostream& p) {
         reportFailure(p, {FileResult::unknownTail, "/x/d/t/index", "record 3"},
                       kReturnLink);
       },
       errorBlock(ErrorLead::unknownTail, "/x/d/t/index", true, "record 3")},
      {"log of another user",
       [](std::ostream& p) {
         reportFailure(p, {FileResult::otherUsersLog, "/x/d/t/log", "bob"},
                       kReturnLink);
       },
       errorBlock(ErrorLead::otherUsersLog, "/x/d/t/log", true, "bob")},
      {"stop block",
       [](std::ostream& p) { writeStopBlock(p, "/a/\"tn3/", "/b/<kv2>/"); },
       stopBlock("/a/&quot;tn3/", "/b/&lt;kv2&gt;/")},
      {"ok reports nothing",
       [](std::ostream& p) {
         EXPECT_TRUE(reportFileResult(p, FileResult::ok, "/x", kReturnLink));
       },
       ""},
  };
  for (const auto& c : cases) {
    std::ostringstream page;
    c.write(page);
    EXPECT_EQ(c.expected, page.str()) << c.name;
  }
}

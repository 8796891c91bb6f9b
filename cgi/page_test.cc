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
      {"skipping line",
       [](std::ostream& p) { writeAlreadyInTargetLine(p, "<k>"); },
       skippingLine("&lt;k&gt;")},
      {"unstorable key",
       [](std::ostream& p) { writeUnstorableKeyLine(p, "'"); },
       unstorableKeyLine("&#39;")},
      {"added line", [](std::ostream& p) { writeAddedLine(p, "a&b"); },
       addedLine("a&amp;b")},
      {"closing block", writeClosingBlock, closingBlock()},
      {"stop block",
       [](std::ostream& p) { writeStopBlock(p, "/a/\"tn3/", "/b/<kv2>/"); },
       stopBlock("/a/&quot;tn3/", "/b/&lt;kv2&gt;/")},
      {"open error in a folder held in pieces",
       [](std::ostream& p) {
         writeFileErrorPage(p, {"/x/", "<d>/"}, "t/index", "");
       },
       errorBlock(ErrorLead::openFailed, "/x/&lt;d&gt;/t/index", false)},
  };
  for (const auto& c : cases) {
    std::ostringstream page;
    c.write(page);
    EXPECT_EQ(c.expected, page.str()) << c.name;
  }
}

TEST(PageTest, EveryFailureHasItsErrorBlock) {
  const struct {
    Failure reason;
    ErrorLead lead;
    const char* path;
    const char* detail;
    bool link;
    const char* shownPath;
    const char* shownDetail;
  } cases[] = {
      {Failure::openFailed, ErrorLead::openFailed, "/x/<d>/t/index", "", false,
       "/x/&lt;d&gt;/t/index", ""},
      {Failure::readFailed, ErrorLead::readFailed, "/x/d/tl.a1", "", true,
       "/x/d/tl.a1", ""},
      {Failure::writeFailed, ErrorLead::writeFailed, "/x/d/t/sum", "", false,
       "/x/d/t/sum", ""},
      {Failure::noFreeId, ErrorLead::noFreeId, "/x/d/t/i", "", true, "/x/d/t/i",
       ""},
      {Failure::othersCanChange, ErrorLead::othersCanChange, "/x/<d>", "", true,
       "/x/&lt;d&gt;", ""},
      {Failure::groupCanChange, ErrorLead::groupCanChange, "/x/d/t", "<g>",
       true, "/x/d/t", "&lt;g&gt;"},
      {Failure::otherOwner, ErrorLead::otherOwner, "/x", "bob", true, "/x",
       "bob"},
      {Failure::otherUsersLock, ErrorLead::otherUsersLock, "/x/l", "bob", false,
       "/x/l", "bob"},
      {Failure::notOwnLog, ErrorLead::notOwnLog, "/x/d/t/log", "", true,
       "/x/d/t/log", ""},
      {Failure::unknownTail, ErrorLead::unknownTail, "/x/d/t/index", "record 3",
       true, "/x/d/t/index", "record 3"},
      {Failure::otherUsersLog, ErrorLead::otherUsersLog, "/x/d/t/log", "bob",
       true, "/x/d/t/log", "bob"},
  };
  for (const auto& c : cases) {
    RunFailure failure;
    failure.reason = c.reason;
    failure.path = c.path;
    failure.detail = c.detail;
    std::ostringstream page;
    writeFailurePage(page, failure, c.link ? kReturnLink : "");
    EXPECT_EQ(errorBlock(c.lead, c.shownPath, c.link, c.shownDetail),
              page.str())
        << c.path;
  }
}

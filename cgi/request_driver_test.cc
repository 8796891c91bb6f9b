#include "cgi/request_driver.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/installation.h"

namespace {
std::string bodyOf(const std::string& input, const std::string& contentLength) {
  std::istringstream stream(input);
  return readRequestBody(stream, contentLength);
}

std::string pageOf(const Environment& environment, const std::string& input) {
  std::istringstream stream(input);
  std::ostringstream page;
  runRequest(environment, stream, page);
  return page.str();
}

Environment postEnvironment(const std::string& body) {
  Environment environment;
  environment.hasContentLength = true;
  environment.contentLength = std::to_string(body.size());
  return environment;
}
}  // namespace

TEST(ReadRequestBodyTest, ReadsWhatArrivesUpToTheAnnouncedLength) {
  const struct {
    const char* input;
    const char* contentLength;
    const char* body;
  } cases[] = {
      {"abcdef", "3", "abc"},
      {"abcdef", " 6xyz", "abcdef"},
      {"abc", "99999999999", "abc"},
      {"abc", "-1", ""},
      {"abc", "0", ""},
      {"abc", "", ""},
      {"abc", "abc", ""},
      {"abc", "99999999999999999999999", "abc"},
      {"abc", "-99999999999999999999", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.body, bodyOf(c.input, c.contentLength)) << c.contentLength;
}

TEST(RunRequestTest, PlainPageLoadEndsWithTheClosingBlockAfterTheForm) {
  Environment environment;
  environment.scriptFilename = "/cgi-bin/convert.cgi";
  const std::string page = pageOf(environment, "");
  EXPECT_EQ(0u, page.find("Content-type: text/html\r\n\r\n"));
  EXPECT_NE(std::string::npos,
            page.find("</div>\n</form>\n<hr size=1 color=silver width=50% "
                      "align=left></div>\n"
                      "</body>\n</html>\n"));
  EXPECT_EQ(page.size(), page.find("</html>\n") + 8);
}

TEST(RunRequestTest, WrongValueCountEndsWithIncorrectFormData) {
  for (const std::string body :
       {"", "a=1&b=2", "a=1&b=2&c=3&d=4", "no equals"}) {
    const std::string page = pageOf(postEnvironment(body), body);
    EXPECT_EQ("</div>\n</form>\nincorrect form data",
              page.substr(page.size() - 34))
        << body;
  }
}

TEST(RunRequestTest, CrossSiteFormIsRefusedUnread) {
  const struct {
    const char* secFetchSite;
    bool converts;
  } cases[] = {{"", true}, {"same-origin", true}, {"cross-site", false}};
  for (const auto& c : cases) {
    Installations in;
    in.writeSourceIndex({sampleTrade("12", "first")});
    const FileTree before = readTree(in.dir.path());
    const std::string body = formBody(in.source, in.target);
    Environment environment = postEnvironment(body);
    environment.secFetchSite = c.secFetchSite;
    std::istringstream input(body);
    std::ostringstream page;
    runRequest(environment, input, page);
    const bool converted =
        page.str().find("added first<br>") != std::string::npos;
    EXPECT_EQ(c.converts, converted) << c.secFetchSite;
    if (!c.converts) {
      EXPECT_EQ("</form>\nincorrect form data",
                page.str().substr(page.str().size() - 27))
          << c.secFetchSite;
      EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())));
    }
  }
}

TEST(RunRequestTest, EmptySourceIndexGivesLoadingLineAndClosingBlock) {
  Installations installations;
  const std::string body = formBody(installations.source, installations.target);
  const std::string page = pageOf(postEnvironment(body), body);
  EXPECT_NE(
      std::string::npos,
      page.find(
          "</form>\nloading conversion module...<br>\n<hr size=1 color=silver "
          "width=50% align=left></div>\n</body>\n</html>\n"));
}

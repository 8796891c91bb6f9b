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

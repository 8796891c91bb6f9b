#include "cgi/request_driver.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/cgi_runner.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"

TEST(ReadFormValuesTest, ReadsWhatArrivesUpToTheAnnouncedLength) {
  using Values = std::vector<std::string>;
  const struct {
    const char* contentLength;
    Values values;  // of the body "a=bcdefg"
  } cases[] = {
      {"3", {"b"}},
      {" 7xyz", {"bcdef"}},
      {"99999999999", {"bcdefg"}},
      {"-1", {}},
      {"0", {}},
      {"", {}},
      {"abc", {}},
      {"99999999999999999999999", {"bcdefg"}},
      {"-99999999999999999999", {}},
  };
  for (const auto& c : cases) {
    std::istringstream input("a=bcdefg");
    EXPECT_EQ(c.values, valueTexts(readFormValues(input, c.contentLength)))
        << c.contentLength;
  }
}

TEST(RunRequestTest, WrongValueCountEndsWithIncorrectFormData) {
  for (const std::string body :
       {"", "a=1&b=2", "a=1&b=2&c=3&d=4", "no equals"}) {
    EXPECT_EQ(incorrectFormData(),
              pageAfterForm(runInProcess(postRequest(body))))
        << body;
  }
}

TEST(RunRequestTest, FormFromAnotherPageIsRefused) {
  const std::string own = "http://convert.example";
  const std::string form = own + "/cgi-bin/convert.cgi";
  const struct {
    const char* name;
    std::vector<std::string> headers;
    bool converts;
    const char* host = "convert.example";  // HTTP_HOST; not set when null
  } cases[] = {
      {"a script or a very old browser", {}, true},
      {"the own form",
       {"HTTP_SEC_FETCH_SITE=same-origin", "HTTP_ORIGIN=" + own,
        "HTTP_REFERER=" + form},
       true},
      {"the own form reached as its folder",
       {"HTTP_ORIGIN=" + own, "HTTP_REFERER=" + own + "/cgi-bin/"},
       true},
      {"the own form with a query",
       {"HTTP_REFERER=" + form + "?from=bookmark"},
       true},
      {"the own form, its path escaped",
       {"HTTP_REFERER=" + own + "/cgi%2dbin/convert%2Ecgi"},
       true},
      {"the own form over TLS",
       {"HTTPS=on", "HTTP_ORIGIN=https://convert.example",
        "HTTP_REFERER=https://convert.example/cgi-bin/convert.cgi"},
       true},
      {"the posted page reloaded",
       {"HTTP_SEC_FETCH_SITE=none", "HTTP_REFERER=" + form},
       true},
      {"an older browser set to send no Referer", {"HTTP_ORIGIN=" + own}, true},
      {"a reload of a post that had no Referer",
       {"HTTP_SEC_FETCH_SITE=none"},
       false},
      {"another site", {"HTTP_SEC_FETCH_SITE=cross-site"}, false},
      {"a sibling subdomain", {"HTTP_SEC_FETCH_SITE=same-site"}, false},
      {"another site to an older browser",
       {"HTTP_ORIGIN=http://evil.example"},
       false},
      {"a page that hides its origin",
       {"HTTP_SEC_FETCH_SITE=same-origin", "HTTP_ORIGIN=null"},
       false},
      {"the form's host without TLS",
       {"HTTPS=on", "HTTP_ORIGIN=" + own},
       false},
      {"another port of the host",
       {"HTTP_ORIGIN=http://convert.example:8080"},
       false},
      {"a neighbour's page on the host",
       {"HTTP_SEC_FETCH_SITE=same-origin", "HTTP_ORIGIN=" + own,
        "HTTP_REFERER=" + own + "/~neighbour/"},
       false},
      {"a neighbour's about:blank frame or blob: page",
       {"HTTP_SEC_FETCH_SITE=same-origin", "HTTP_ORIGIN=" + own},
       false},
      {"a page that tells its origin only",
       {"HTTP_REFERER=" + own + "/"},
       false},
      {"another program of the folder",
       {"HTTP_REFERER=" + own + "/cgi-bin/other.cgi"},
       false},
      {"another site with the form's path",
       {"HTTP_REFERER=http://evil.example/cgi-bin/convert.cgi"},
       false},
      {"a longer host name",
       {"HTTP_REFERER=http://convert.example.evil.example/cgi-bin/"
        "convert.cgi"},
       false},
      {"no HTTP_HOST to compare with", {"HTTP_ORIGIN=" + own}, false, nullptr},
  };
  for (const auto& c : cases) {
    Installations in;
    in.writeSourceIndex({sampleTrade("12", "first")});
    const FileTree before = readTree(in.dir.path());
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.variables = c.headers;
    request.variables.push_back("REQUEST_SCHEME=http");
    request.variables.push_back("SCRIPT_NAME=/cgi-bin/convert.cgi");
    if (c.host) request.variables.push_back(std::string("HTTP_HOST=") + c.host);
    const std::string page = runInProcess(request);
    const std::string end =
        c.converts ? addedLine("first") + closingBlock() : incorrectFormData();
    ASSERT_GE(page.size(), end.size()) << c.name;
    EXPECT_EQ(end, page.substr(page.size() - end.size())) << c.name;
    if (!c.converts) {
      EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())))
          << c.name;
    }
  }
}

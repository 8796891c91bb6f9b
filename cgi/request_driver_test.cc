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
    EXPECT_EQ(c.values, readFormValues(input, c.contentLength))
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

TEST(RunRequestTest, CrossSiteFormIsRefused) {
  const struct {
    const char* secFetchSite;
    bool converts;
  } cases[] = {{"", true}, {"same-origin", true}, {"cross-site", false}};
  for (const auto& c : cases) {
    Installations in;
    in.writeSourceIndex({sampleTrade("12", "first")});
    const FileTree before = readTree(in.dir.path());
    const std::string body = formBody(in.source, in.target);
    Environment environment;
    environment.hasContentLength = true;
    environment.contentLength = std::to_string(body.size());
    environment.secFetchSite = c.secFetchSite;
    std::istringstream input(body);
    std::ostringstream page;
    runRequest(environment, input, page);
    const std::string end =
        c.converts ? addedLine("first") + closingBlock() : incorrectFormData();
    EXPECT_EQ(end, page.str().substr(page.str().size() - end.size()))
        << c.secFetchSite;
    if (!c.converts) {
      EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())));
    }
  }
}

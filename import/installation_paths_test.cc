// Every other test takes its file names from these functions, and the Python
// and JavaScript tools theirs from testing/golden/file_names.txt: this holds
// the two to each other.
#include "import/installation_paths.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/golden.h"

TEST(InstallationPathsTest, AppendsEachGoldenNameToTheDirectoryAsTyped) {
  const std::string dir = "/i/";
  const std::map<std::string, std::vector<std::string>> paths = {
      {"index", {sourceIndexPath(dir), targetIndexPath(dir)}},
      {"counter", {counterPath(dir)}},
      {"toplist", {toplistPath(dir)}},
      {"caps", {capsPath(dir)}},
      {"summary", {summaryPath(dir)}},
      {"statistics", {statsFilePath(dir, "11")}},
      {"history", {historyFilePath(dir, "a b")}},
      {"historyFolder", {historyFolderPath(dir)}},
      {"tradeFolder", {tradeFolderPath(dir)}},
      {"journal", {journalPath(dir)}},
      {"lock", {lockPath(dir)}},
  };
  std::istringstream table(goldenText("file_names.txt"));
  std::size_t roles = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::string role = line.substr(0, line.find(' '));
    ASSERT_EQ(1u, paths.count(role)) << line;
    ++roles;
    const std::string name = fillIn(line.substr(role.size() + 1),
                                    {{"@ID@", "11"}, {"@KEY@", "a b"}});
    for (const std::string& path : paths.at(role))
      EXPECT_EQ(dir + name, path) << line;
  }
  EXPECT_EQ(paths.size(), roles);
  // Typed without its "/", a directory names files beside it.
  EXPECT_EQ("/td/t/i", counterPath("/t"));
}

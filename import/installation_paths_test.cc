// Every other test takes its file names from these functions, so this table is
// what holds them to the names that installations use on disk.
#include "import/installation_paths.h"

#include <gtest/gtest.h>

TEST(InstallationPathsTest, AppendsEachNameToTheDirectoryAsTyped) {
  const struct {
    std::string path;
    const char* expected;
  } cases[] = {
      {sourceIndexPath("/s/"), "/s/d/t/index"},
      {targetIndexPath("/t/"), "/t/d/t/index"},
      {counterPath("/t/"), "/t/d/t/i"},
      {toplistPath("/t/"), "/t/d/tl.a1"},
      {capsPath("/t/"), "/t/d/caps"},
      {summaryPath("/t/"), "/t/d/t/sum"},
      {statsFilePath("/t/", "11"), "/t/d/t/11"},
      {historyFilePath("/t/", "a b"), "/t/d/h/a b.his"},
      {historyFolderPath("/t/"), "/t/d/h"},
      {tradeFolderPath("/t/"), "/t/d/t"},
      {journalPath("/t/"), "/t/d/t/convert.journal"},
      // Typed without its "/", a directory names files beside it.
      {counterPath("/t"), "/td/t/i"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.path);
}

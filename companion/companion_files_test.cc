#include "companion/companion_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "companion/caps_file.h"
#include "import/source_index.h"
#include "testing/expected_import.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"

namespace {
SourceTrade tradeOf(const std::string& key, const std::string& c13,
                    const std::string& c14, const std::string& c15) {
  SourceFields fields = sampleTrade("11", key);
  fields[13] = c13;
  fields[14] = c14;
  fields[15] = c15;
  return parseSourceIndex(sourceLine(fields))[0];
}
}  // namespace

TEST(CapsLinesTest, KeepSignsAndDefaultToZero) {
  EXPECT_EQ("|11|1|0|\n|11|2|5|\n|11|3|-7|\n",
            capsLines(11, tradeOf("k", "", "5", "-7")));
  EXPECT_EQ("|-3|1|0|\n|-3|2|0|\n|-3|3|2|\n",
            capsLines(-3, tradeOf("k", "abc", "0", "2x")));
}

TEST(WriteCompanionFilesTest, WritesEveryFileInOrder) {
  TempDir dir;
  const std::string t = dir.path();
  writeFile(t + "d/tl.a1", "|1|2|3|4|5|6|\n");
  writeFile(t + "d/t/11", "old statistics");
  writeFile(t + "d/h/K.his", "old history");
  const mode_t oldMask = umask(077);
  std::ostringstream page;
  FileJournal journal;
  const bool ok =
      writeCompanionFiles(page, t, tradeOf("K", "1", "2", "3"), 11, &journal);
  umask(oldMask);
  ASSERT_TRUE(ok);
  EXPECT_EQ("|1|2|3|4|5|6|\n|K|v17|v18|v19|||\n", readFile(t + "d/tl.a1"));
  EXPECT_EQ("|11|1|1|\n|11|2|2|\n|11|3|3|\n", readFile(t + "d/caps"));
  EXPECT_EQ(std::string(80640, '\0'), readFile(t + "d/t/11"));
  EXPECT_EQ(sampleSummaryLine(11), readFile(t + "d/t/sum"));
  EXPECT_EQ("", readFile(t + "d/h/K.his"));
  EXPECT_EQ(0777, fileMode(t + "d/t/11"));
  EXPECT_EQ(0777, fileMode(t + "d/h/K.his"));
  // Only the two per-trade files are opened up.
  EXPECT_EQ(0600, fileMode(t + "d/t/sum"));
  EXPECT_EQ(addedLine("K"), page.str());
}

TEST(WriteCompanionFilesTest, ShellCharactersNameOnlyTheFile) {
  TempDir dir;
  const std::string t = dir.path() + "a b;$(touch x)`touch y`'\"/";
  writeFile(t + "d/tl.a1", "");
  makeDirectories(t + "d/t");
  makeDirectories(t + "d/h");
  const std::string key = "k ;$(touch z)`touch w`'\"&<>";
  std::ostringstream page;
  FileJournal journal;
  ASSERT_TRUE(
      writeCompanionFiles(page, t, tradeOf(key, "1", "2", "3"), 12, &journal));
  EXPECT_EQ(0777, fileMode(t + "d/h/" + key + ".his"));
  EXPECT_EQ(0777, fileMode(t + "d/t/12"));
  for (const char* stray : {"x", "y", "z", "w"}) {
    EXPECT_FALSE(fileExists(std::string(stray))) << stray;
    EXPECT_FALSE(fileExists(dir.path() + stray)) << stray;
  }
  EXPECT_EQ(addedLine("k ;$(touch z)`touch w`&#39;&quot;&amp;&lt;&gt;"),
            page.str());
}

TEST(WriteCompanionFilesTest, KeyWithSlashGetsNoHistoryFile) {
  TempDir dir;
  const std::string t = dir.path() + "kv2/";
  writeFile(t + "d/tl.a1", "");
  makeDirectories(t + "d/h");
  makeDirectories(t + "d/t");
  makeDirectories(t + "x");
  std::ostringstream page;
  FileJournal journal;
  ASSERT_TRUE(writeCompanionFiles(
      page, t, tradeOf("../../x/evil", "1", "2", "3"), 13, &journal));
  EXPECT_FALSE(fileExists(t + "x/evil.his"));
  EXPECT_FALSE(fileExists(dir.path() + "x/evil.his"));
  EXPECT_EQ(0777, fileMode(t + "d/t/13"));
  EXPECT_EQ(addedLine("../../x/evil"), page.str());
}

TEST(WriteCompanionFilesTest, FailingStepsEndWithTheirErrorBlockAndUndo) {
  const SourceTrade trade = tradeOf("K", "1", "2", "3");
  const struct {
    const char* name;
    const char* blocker;  // a directory where a file should be
    const char* path;
    const char* survivor;  // written before the failure, must stay
  } cases[] = {
      {"caps", "d/caps", "d/caps", "d/tl.a1"},
      {"statistics", "d/t/11", "d/t/11", "d/caps"},
      {"summary", "d/t/sum", "d/t/sum", "d/t/11"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(dir.path() + "d/tl.a1", "|top|\n");
    makeDirectories(dir.path() + c.blocker);
    const FileTree before = readTree(dir.path());
    std::ostringstream page;
    FileJournal journal;
    EXPECT_FALSE(writeCompanionFiles(page, dir.path(), trade, 11, &journal))
        << c.name;
    EXPECT_EQ(errorBlock(ErrorLead::openFailed, dir.path() + c.path, true),
              page.str())
        << c.name;
    EXPECT_NE(readFile(dir.path() + c.survivor),
              before.count(c.survivor) ? before.at(c.survivor).bytes : "")
        << c.name;
    EXPECT_FALSE(fileExists(dir.path() + "d/h/K.his")) << c.name;
    journal.rollback();
    EXPECT_EQ(describeTree(before), describeTree(readTree(dir.path())))
        << c.name;
  }
}

TEST(WriteCompanionFilesTest, MissingHistoryDirectoryIsNotAnError) {
  TempDir dir;
  writeFile(dir.path() + "d/tl.a1", "");
  makeDirectories(dir.path() + "d/t");
  std::ostringstream page;
  FileJournal journal;
  EXPECT_TRUE(writeCompanionFiles(page, dir.path(), tradeOf("K", "1", "2", "3"),
                                  11, &journal));
  EXPECT_EQ(addedLine("K"), page.str());
}

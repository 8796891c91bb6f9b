#include "companion/companion_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "import/installation_paths.h"
#include "import/source_index.h"
#include "testing/expected_import.h"
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

TEST(WriteCompanionFilesTest, WritesEveryFileInOrder) {
  TempDir dir;
  const std::string t = dir.path();
  writeFile(toplistPath(t), "|1|2|3|4|5|6|\n");
  writeFile(statsFilePath(t, "11"), "old statistics");
  writeFile(historyFilePath(t, "K"), "old history");
  const mode_t oldMask = umask(077);
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  const FileError error =
      writeCompanionFiles(t, tradeOf("K", "1", "2", "3"), 11, &journal);
  umask(oldMask);
  ASSERT_TRUE(error.ok());
  EXPECT_EQ("|1|2|3|4|5|6|\n|K|v17|v18|v19|||\n", readFile(toplistPath(t)));
  EXPECT_EQ("|11|1|1|\n|11|2|2|\n|11|3|3|\n", readFile(capsPath(t)));
  EXPECT_EQ(std::string(80640, '\0'), readFile(statsFilePath(t, "11")));
  EXPECT_EQ(sampleSummaryLine(11), readFile(summaryPath(t)));
  EXPECT_EQ("", readFile(historyFilePath(t, "K")));
  EXPECT_EQ(0777, fileMode(statsFilePath(t, "11")));
  EXPECT_EQ(0777, fileMode(historyFilePath(t, "K")));
  // Only the two per-trade files are opened up.
  EXPECT_EQ(0600, fileMode(summaryPath(t)));
}

TEST(WriteCompanionFilesTest, ShellCharactersNameOnlyTheFile) {
  TempDir dir;
  const std::string t = dir.path() + "a b;$(touch x)`touch y`'\"/";
  writeFile(toplistPath(t), "");
  makeDirectories(tradeFolderPath(t));
  makeDirectories(historyFolderPath(t));
  const std::string key = "k ;$(touch z)`touch w`'\"&<>";
  const Folders folders = foldersOf(t);
  FileJournal journal(folders);
  ASSERT_TRUE(
      writeCompanionFiles(t, tradeOf(key, "1", "2", "3"), 12, &journal).ok());
  EXPECT_EQ(0777, fileMode(historyFilePath(t, key)));
  EXPECT_EQ(0777, fileMode(statsFilePath(t, "12")));
  for (const char* stray : {"x", "y", "z", "w"}) {
    EXPECT_FALSE(fileExists(std::string(stray))) << stray;
    EXPECT_FALSE(fileExists(dir.path() + stray)) << stray;
  }
}

TEST(WriteCompanionFilesTest, KeyWithSlashGetsNoHistoryFile) {
  TempDir dir;
  const std::string t = dir.path() + "kv2/";
  writeFile(toplistPath(t), "");
  makeDirectories(historyFolderPath(t));
  makeDirectories(tradeFolderPath(t));
  makeDirectories(t + "x");
  const Folders folders = foldersOf(t);
  FileJournal journal(folders);
  ASSERT_TRUE(writeCompanionFiles(t, tradeOf("../../x/evil", "1", "2", "3"), 13,
                                  &journal)
                  .ok());
  EXPECT_FALSE(fileExists(t + "x/evil.his"));
  EXPECT_FALSE(fileExists(dir.path() + "x/evil.his"));
  EXPECT_EQ(0777, fileMode(statsFilePath(t, "13")));
}

TEST(WriteCompanionFilesTest, FailingStepsEndWithTheirErrorBlockAndUndo) {
  const SourceTrade trade = tradeOf("K", "1", "2", "3");
  const struct {
    const char* name;
    InstallationFile blocked;   // a directory where this file should be
    InstallationFile survivor;  // written before the failure, must stay
  } cases[] = {
      {"caps", capsPath, toplistPath},
      {"statistics", statsFile("11"), capsPath},
      {"summary", summaryPath, statsFile("11")},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(toplistPath(dir.path()), "|top|\n");
    makeDirectories(c.blocked(dir.path()));
    const FileTree before = readTree(dir.path());
    const std::string survivor = c.survivor("");  // the name in `before`
    const Folders folders = foldersOf(dir.path());
    FileJournal journal(folders);
    const FileError error =
        writeCompanionFiles(dir.path(), trade, 11, &journal);
    EXPECT_EQ(FileResult::openFailed, error.result) << c.name;
    EXPECT_EQ(c.blocked(dir.path()), error.path) << c.name;
    EXPECT_NE(readFile(c.survivor(dir.path())),
              before.count(survivor) ? before.at(survivor).bytes : "")
        << c.name;
    EXPECT_FALSE(fileExists(historyFilePath(dir.path(), "K"))) << c.name;
    EXPECT_TRUE(journal.rollback().ok()) << c.name;
    EXPECT_EQ(describeTree(before), describeTree(readTree(dir.path())))
        << c.name;
  }
}

TEST(WriteCompanionFilesTest, MissingHistoryDirectoryIsNotAnError) {
  TempDir dir;
  writeFile(toplistPath(dir.path()), "");
  makeDirectories(tradeFolderPath(dir.path()));
  const Folders folders = foldersOf(dir.path());
  FileJournal journal(folders);
  EXPECT_TRUE(
      writeCompanionFiles(dir.path(), tradeOf("K", "1", "2", "3"), 11, &journal)
          .ok());
}

TEST(WriteCompanionFilesTest, ToplistLinesTakeTheWidthOfItsFirstLine) {
  TempDir dir;
  const std::string t = dir.path();
  makeDirectories(tradeFolderPath(t));
  const Folders folders = foldersOf(t);
  FileJournal journal(folders);
  const SourceTrade trade = tradeOf("k", "1", "2", "3");
  // A missing toplist is never created.
  EXPECT_EQ(toplistPath(t), writeCompanionFiles(t, trade, 11, &journal).path);
  EXPECT_FALSE(fileExists(toplistPath(t)));
  writeFile(toplistPath(t), "");
  ASSERT_TRUE(writeCompanionFiles(t, trade, 11, &journal).ok());
  ASSERT_TRUE(writeCompanionFiles(t, trade, 12, &journal).ok());
  EXPECT_EQ("|k|v17|v18|v19|\n|k|v17|v18|v19|\n", readFile(toplistPath(t)));
  writeFile(toplistPath(t), "Top list\n|1|2|3|4|5|6|\n");
  ASSERT_TRUE(writeCompanionFiles(t, trade, 13, &journal).ok());
  EXPECT_EQ("Top list\n|1|2|3|4|5|6|\n|k|v17|v18|v19|||\n",
            readFile(toplistPath(t)));
}

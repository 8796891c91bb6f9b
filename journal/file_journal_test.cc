#include "journal/file_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "testing/file_tree.h"
#include "testing/temp_dir.h"

namespace {

// A counter, an appended file and two files that creates replace, and a
// journal over them that has made one whole unit of every kind of change: the
// counter, an append to the index and to a file it creates, the statistics
// file and the history file. The unit in hand then appends "89".
class FileJournalTest : public testing::Test {
 protected:
  void SetUp() override {
    writeFile(root + "index", "0123");
    writeFile(root + "i", "10");
    writeFile(root + "11", "old statistics");
    chmod((root + "11").c_str(), 0640);
    writeFile(root + "k.his", "old history");
    before = readTree(root);
    journal.emplace(folders, root, root + "log",
                    std::vector<std::string>{root + "index", root + "caps"});
    RewritableFile counter(folders, root + "i");
    std::string old;
    ASSERT_TRUE(counter.readAll(&old).ok());
    ASSERT_TRUE(journal->rewrite(&counter, "11", old).ok());
    ASSERT_TRUE(journal->append(root + "index", "4567").ok());
    ASSERT_TRUE(journal->append(root + "caps", "c").ok());
    ASSERT_TRUE(journal->createFile(root + "11", 8).ok());
    ASSERT_TRUE(journal->createFile(root + "k.his", 0).ok());
    journal->commit();
    ASSERT_TRUE(journal->append(root + "index", "89").ok());
  }

  TempDir dir;
  const std::string root = dir.path();
  const Folders folders = foldersFor({root});
  FileTree before;
  std::optional<FileJournal> journal;
};

}  // namespace

TEST_F(FileJournalTest, LogOfACutOffGroupPutsEveryFileBack) {
  journal->commit();
  // Cut off: neither the end of the group nor of the run comes.
  journal.reset();
  ASSERT_TRUE(fileExists(root + "log"));
  EXPECT_TRUE(recoverFromLog(folders, root, root + "log", {}).ok());
  EXPECT_EQ(describeTree(before), describeTree(readTree(root)));
  // Nothing is left to put back.
  EXPECT_TRUE(recoverFromLog(folders, root, root + "log", {}).ok());
}

TEST_F(FileJournalTest, UndoThatCannotFinishIsFinishedByTheNextRun) {
  // The unit's undo cannot cut the index back while a directory stands in
  // its way.
  std::filesystem::rename(root + "index", root + "moved");
  makeDirectories(root + "index");
  EXPECT_EQ(root + "index", journal->rollback().path);
  const JournalError failed = recoverFromLog(folders, root, root + "log", {});
  EXPECT_EQ(FileResult::writeFailed, failed.where.result);
  EXPECT_EQ(root + "index", failed.where.path);
  std::filesystem::remove(root + "index");
  std::filesystem::rename(root + "moved", root + "index");
  EXPECT_TRUE(recoverFromLog(folders, root, root + "log", {}).ok());
  // The first unit stays; the second is gone, and so is the log.
  EXPECT_EQ("01234567", readFile(root + "index"));
  EXPECT_EQ("11", readFile(root + "i"));
  EXPECT_FALSE(fileExists(root + "log"));
}

TEST_F(FileJournalTest, CutOffGroupIsPutBackAndTheOneBeforeItKept) {
  journal->commit();
  ASSERT_TRUE(journal->endGroup().ok());
  // The next group's log replaces the last one's.
  ASSERT_TRUE(journal->append(root + "index", "!").ok());
  journal.reset();
  EXPECT_TRUE(recoverFromLog(folders, root, root + "log", {}).ok());
  EXPECT_EQ("0123456789", readFile(root + "index"));
  EXPECT_EQ(std::string(8, '\0'), readFile(root + "11"));
}

TEST_F(FileJournalTest, FinishedRunLeavesNoLog) {
  journal->commit();
  ASSERT_TRUE(journal->endGroup().ok());
  ASSERT_TRUE(journal->append(root + "index", "!").ok());
  journal->commit();
  ASSERT_TRUE(journal->finish().ok());
  EXPECT_FALSE(fileExists(root + "log"));
  EXPECT_EQ("0123456789!", readFile(root + "index"));
}

// Runs that meet over one target, and runs asked to stop part way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "import/installation_paths.h"
#include "import/target_trade.h"
#include "testing/cgi_runner.h"
#include "testing/expected_import.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"
#include "testing/toplist_gate.h"

namespace {

constexpr auto kSwapTime = std::chrono::seconds(2);

constexpr auto kWait = std::chrono::seconds(20);

std::vector<SourceFields> tradesWithKeys(const std::string& prefix, int count) {
  std::vector<SourceFields> trades;
  for (int i = 0; i < count; ++i)
    trades.push_back(sampleTrade("12", prefix + std::to_string(i)));
  return trades;
}

// The target tree after the first `count` trades of prefix0, prefix1, ... have
// been imported completely as 11, 12, ...
FileTree importedInOrder(FileTree tree, const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    applyImport(&tree, "kv2/", 11 + i, prefix + std::to_string(i),
                ImportStep::done);
  }
  return tree;
}

struct IndexContents {
  std::multiset<std::string> keys;
  std::set<int32_t> ids;
  std::size_t records = 0;
};

IndexContents readIndexContents(const std::string& path) {
  const std::string bytes = readFile(path);
  IndexContents contents;
  contents.records = bytes.size() / kTargetTradeSize;
  for (std::size_t at = 0; at + kTargetTradeSize <= bytes.size();
       at += kTargetTradeSize) {
    TargetTrade record;
    std::copy(bytes.begin() + static_cast<long>(at),
              bytes.begin() + static_cast<long>(at + kTargetTradeSize),
              record.bytes);
    contents.keys.insert(std::string(readText(record, kKeyField)));
    contents.ids.insert(readInt32(record, kIdField));
  }
  return contents;
}

TEST(ConcurrencyTest, TwoRunsStartedTogetherImportEveryTradeOnce) {
  for (int round = 0; round < 3; ++round) {
    Installations in;
    in.writeSourceIndex(tradesWithKeys("k", 40));
    const FileTree expected = importedInOrder(readTree(in.dir.path()), "k", 40);
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.timeout = kWait;
    RunningCgi one(request);
    RunningCgi two(request);
    const CgiResult first = one.finish();
    const CgiResult second = two.finish();
    // Whichever run takes the target first imports all; the other finds all.
    for (const CgiResult* result : {&first, &second}) {
      EXPECT_EQ(0, result->exitStatus);
      EXPECT_EQ(40u, countAddedLines(result->page) +
                         countSkippingLines(result->page));
      EXPECT_EQ(closingBlock(), result->page.substr(result->page.size() -
                                                    closingBlock().size()));
    }
    EXPECT_EQ(40u, countAddedLines(first.page + second.page));
    EXPECT_EQ(describeTree(expected), describeTree(readTree(in.dir.path())))
        << "round " << round;
  }
}

TEST(ConcurrencyTest, RunsFromTwoSourcesIntoOneTargetNumberTradesApart) {
  // Twenty keys in both sources, ten in each alone.
  Installations in;
  std::vector<SourceFields> mine = tradesWithKeys("shared", 20);
  std::vector<SourceFields> theirs = mine;
  for (SourceFields& trade : tradesWithKeys("a", 10)) mine.push_back(trade);
  for (SourceFields& trade : tradesWithKeys("b", 10)) theirs.push_back(trade);
  in.writeSourceIndex(mine);
  const std::string otherSource = in.dir.path() + "other/";
  std::string otherIndex;
  for (const SourceFields& trade : theirs) otherIndex += sourceLine(trade);
  writeFile(sourceIndexPath(otherSource), otherIndex);

  CgiRequest request = postRequest(formBody(in.source, in.target));
  CgiRequest otherRequest = postRequest(formBody(otherSource, in.target));
  request.timeout = otherRequest.timeout = kWait;
  RunningCgi one(request);
  RunningCgi two(otherRequest);
  const CgiResult first = one.finish();
  const CgiResult second = two.finish();
  EXPECT_EQ(40u, countAddedLines(first.page + second.page));
  EXPECT_EQ(20u, countSkippingLines(first.page + second.page));

  const IndexContents index = readIndexContents(targetIndexPath(in.target));
  EXPECT_EQ(40u * kTargetTradeSize, in.targetFile(targetIndexPath).size());
  std::multiset<std::string> keys;
  for (const auto& trade : mine) keys.insert(trade.fields[1]);
  for (int i = 0; i < 10; ++i) keys.insert("b" + std::to_string(i));
  EXPECT_EQ(keys, index.keys);
  std::set<int32_t> ids;
  for (int32_t id = 11; id <= 50; ++id) ids.insert(id);
  EXPECT_EQ(ids, index.ids);
  EXPECT_EQ("50", in.targetFile(counterPath));
  EXPECT_EQ(120u, countOccurrences(in.targetFile(capsPath), "\n"));
  EXPECT_EQ(40u, countOccurrences(in.targetFile(summaryPath), "\n"));
  for (const int32_t id : ids) {
    EXPECT_EQ(80640u,
              readFile(statsFilePath(in.target, std::to_string(id))).size())
        << id;
  }
}

// The test holds the target's lock as another run would, and lets it go as
// a run does: the file removed, then closed. Close-on-exec: a child that kept
// the descriptor would keep the lock too.
class HeldTarget {
 public:
  explicit HeldTarget(const std::string& target)
      : path_(lockPath(target)),
        fd_(open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)) {
    flock(fd_, LOCK_EX);
  }
  ~HeldTarget() { release(); }
  void release() {
    if (fd_ < 0) return;
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_;
};

bool showsWaitingLine(const std::string& page) {
  return page.find(waitingLine()) != std::string::npos;
}

TEST(ConcurrencyTest, RunWaitsUntilTheTargetIsFreeAndCanBeStoppedThere) {
  for (const bool stopWhileWaiting : {false, true}) {
    SCOPED_TRACE(stopWhileWaiting ? "stopped while waiting" : "let through");
    Installations in;
    in.writeSourceIndex(tradesWithKeys("k", 3));
    const FileTree before = readTree(in.dir.path());
    HeldTarget held(in.target);
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.timeout = kWait;
    RunningCgi run(request);
    ASSERT_TRUE(run.waitForPage(showsWaitingLine, kWait));
    FileTree waiting = readTree(in.dir.path());
    waiting.erase(lockPath("kv2/"));
    EXPECT_EQ(describeTree(before), describeTree(waiting));
    if (stopWhileWaiting) kill(run.pid(), SIGTERM);
    held.release();
    const CgiResult result = run.finish();
    EXPECT_EQ(0, result.exitStatus);
    if (stopWhileWaiting) {
      EXPECT_EQ(loadingLine() + waitingLine() + stopBlock(in.source, in.target),
                pageAfterForm(result.page));
      EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())));
    } else {
      EXPECT_EQ(loadingLine() + waitingLine() + addedLine("k0") +
                    addedLine("k1") + addedLine("k2") + closingBlock(),
                pageAfterForm(result.page));
      EXPECT_EQ(describeTree(importedInOrder(before, "k", 3)),
                describeTree(readTree(in.dir.path())));
    }
  }
}

// Another account swaps a name in a folder it may write to, back and forth
// between the owner's target and a tree of its own whose counter is a link to
// the owner's file, while runs go on: every run refuses that folder, and
// nothing outside the target is ever written.
TEST(ConcurrencyTest, NameSwappedDuringTheWalkNeverLeadsOutside) {
  Installations in;
  in.writeSourceIndex(tradesWithKeys("k", 1));
  const std::string pub = in.dir.path() + "pub/";
  const std::string victim = in.dir.path() + "victim";
  writeFile(victim, "secret");
  makeDirectories(pub + "theirs/d/t");
  ASSERT_EQ(0, symlink(victim.c_str(), counterPath(pub + "theirs/").c_str()));
  ASSERT_EQ(0, chmod(pub.c_str(), 0777));
  ASSERT_EQ(0, rename(in.target.c_str(), (pub + "kv2").c_str()));
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done)
      renameat2(AT_FDCWD, (pub + "kv2").c_str(), AT_FDCWD,
                (pub + "theirs").c_str(), RENAME_EXCHANGE);
  });
  const std::string refused =
      loadingLine() +
      errorBlock(ErrorLead::othersCanChange, in.dir.path() + "pub", true);
  int runs = 0;
  for (const auto end = std::chrono::steady_clock::now() + kSwapTime;
       std::chrono::steady_clock::now() < end; ++runs) {
    const std::string page =
        runInProcess(postRequest(formBody(in.source, pub + "kv2/")));
    if (pageAfterForm(page) != refused) {
      ADD_FAILURE() << pageAfterForm(page);
      break;
    }
  }
  done = true;
  swapper.join();
  EXPECT_LT(10, runs);
  EXPECT_EQ("secret", readFile(victim));
}

TEST(StopSignalTest, TradeInHandIsFinishedAndNoOtherIsStarted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: holds the run";
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGXCPU}) {
    SCOPED_TRACE(strsignal(signal));
    Installations in;
    in.writeSourceIndex(tradesWithKeys("k", 3));
    ToplistGate gate(in.target);
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.timeout = kWait;
    RunningCgi run(request);
    // The first trade has its counter and record and waits at the toplist.
    ASSERT_TRUE(gate.waitForRun(kWait));
    EXPECT_EQ("11", in.targetFile(counterPath));
    EXPECT_EQ(sampleTradeRecord(11, "k0", addedByNoteToday("192.0.2.7")),
              in.targetFile(targetIndexPath));
    FileTree expected = readTree(in.dir.path());
    expected.erase(journalPath("kv2/"));
    expected.erase(lockPath("kv2/"));
    kill(run.pid(), signal);
    gate.release();
    const CgiResult result = run.finish();
    EXPECT_EQ(0, result.exitStatus);
    EXPECT_EQ(loadingLine() + addedLine("k0") + stopBlock(in.source, in.target),
              pageAfterForm(result.page));
    // The rest of k0, nothing else.
    applyImportSteps(&expected, "kv2/", 11, "k0", ImportStep::toplist,
                     ImportStep::done);
    EXPECT_EQ(describeTree(expected), describeTree(readTree(in.dir.path())));
  }
}

TEST(StopSignalTest, SignalDuringALongImportLeavesOnlyCompleteTrades) {
  constexpr int kTrades = 1000;
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    Installations in;
    in.writeSourceIndex(tradesWithKeys("k", kTrades));
    const FileTree before = readTree(in.dir.path());
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.timeout = kWait;
    RunningCgi run(request);
    ASSERT_TRUE(run.waitForPage(
        [](const std::string& page) { return countAddedLines(page) >= 3; },
        kWait));
    kill(run.pid(), signal);
    const CgiResult result = run.finish();
    EXPECT_EQ(0, result.exitStatus);
    const int added = static_cast<int>(countAddedLines(result.page));
    ASSERT_LT(added, kTrades) << "the signal came after the last trade";
    ASSERT_GE(added, 3);
    const std::string last = addedLine("k" + std::to_string(added - 1)) +
                             stopBlock(in.source, in.target);
    EXPECT_EQ(last, result.page.substr(result.page.size() - last.size()));
    EXPECT_EQ(describeTree(importedInOrder(before, "k", added)),
              describeTree(readTree(in.dir.path())));
  }
}

}  // namespace

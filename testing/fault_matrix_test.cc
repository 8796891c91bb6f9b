// Every file the program opens, made to fail at its step, on the first imported
// trade and on a later one: the page must end with the right block and the
// disk must hold exactly the trades before the failing one, which leaves
// nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "import/installation_paths.h"
#include "journal/undo_log.h"
#include "testing/cgi_runner.h"
#include "testing/expected_import.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"
#include "testing/toplist_gate.h"

namespace {

// Root ignores permission bits: permission faults run as this user.
constexpr unsigned kNobody = 65534;
constexpr uint64_t kSizeLimit = 100000;  // above one stats file
constexpr auto kRunTimeout = std::chrono::seconds(5);

// The source trades; the empty target numbers them 11, 12 and 13.
const char* const kKeys[] = {"first", "second", "third"};
constexpr int kTradeCount = 3;

struct FaultCase {
  std::string name;
  // Where the run ends: the trade (0 = first) and the step that failed. No
  // lead means no error block: the run goes on to its closing block.
  int failingTrade = 0;
  ImportStep failedStep = ImportStep::counter;
  std::optional<ErrorLead> lead;
  InstallationFile failingFile;  // a source file with inSource
  bool inSource = false;
  bool beforeTrades = false;  // an index read: no trade is looked at
  bool withLink = true;
  int32_t firstId = 11;  // the id the first trade gets
  std::function<void(const Installations&)> setup;
  // When set, the run is held at the first trade's toplist step and this runs
  // there.
  std::function<void(const Installations&)> atGate;
  // Corrects the expected tree ("kv2/...") for what a cut write left behind.
  std::function<void(FileTree*)> adjustExpected;
  std::optional<unsigned> runAsUid;
  std::optional<uint64_t> fileSizeLimit;

  FaultCase& indexRead(bool source) {
    inSource = source;
    beforeTrades = true;
    withLink = false;
    return *this;
  }
  FaultCase& with(std::function<void(const Installations&)> f) {
    setup = std::move(f);
    return *this;
  }
  FaultCase& gated(std::function<void(const Installations&)> f) {
    atGate = std::move(f);
    return *this;
  }
  // The run ends while it puts back what a cut-off run left.
  FaultCase& inRecovery() {
    beforeTrades = true;
    return *this;
  }
  FaultCase& asNobody() {
    runAsUid = kNobody;
    return *this;
  }
  FaultCase& limit(uint64_t bytes) {
    fileSizeLimit = bytes;
    return *this;
  }
  FaultCase& ids(int32_t first) {
    firstId = first;
    return *this;
  }
  FaultCase& adjust(std::function<void(FileTree*)> f) {
    adjustExpected = std::move(f);
    return *this;
  }
};

// gtest prints a failing row by its name.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

FaultCase fault(std::string name, int trade, ImportStep step, ErrorLead lead,
                InstallationFile file) {
  FaultCase c;
  c.name = std::move(name);
  c.failingTrade = trade;
  c.failedStep = step;
  c.lead = lead;
  c.failingFile = std::move(file);
  return c;
}

// A run that loses the history file and still ends normally.
FaultCase goesOn(std::string name, int trade) {
  FaultCase c;
  c.name = std::move(name);
  c.failingTrade = trade;
  c.failedStep = ImportStep::history;
  return c;
}

void replaceByDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  makeDirectories(path);
}

void replaceByLink(const std::string& path, const char* to) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  ::symlink(to, path.c_str());
}

// The target belongs to the unprivileged user, except `path`, which that user
// may only read (or, with mode 0, not even that).
void onlyRootWrites(const Installations& in, const std::string& path,
                    int mode) {
  giveToUser(in.target, kNobody);
  ::chown(path.c_str(), 0, 0);
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

// Grows a file to `size` bytes, keeping its first line.
void fillTo(const std::string& path, std::size_t size) {
  std::string bytes = readFile(path);
  if (bytes.size() < size) bytes += std::string(size - bytes.size() - 1, 'x');
  writeFile(path, bytes + "\n");
}

// A target index of `count` records whose ids (5) leave the numbering at 11.
void fillIndex(const Installations& in, int count) {
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i)
    records.push_back(targetRecordBytes(5, "old" + std::to_string(i)));
  in.writeTargetIndex(records);
}

// A file that the second append to it crosses the size limit half way through:
// the first trade's line fits, the second's does not.
std::function<void(const Installations&)> secondAppendCrossesLimit(
    InstallationFile file, std::size_t firstLine, std::size_t secondLine) {
  return [=](const Installations& in) {
    fillTo(file(in.target), kSizeLimit - firstLine - secondLine / 2);
  };
}
std::function<void(const Installations&)> firstAppendCrossesLimit(
    InstallationFile file, std::size_t firstLine) {
  return [=](const Installations& in) {
    fillTo(file(in.target), kSizeLimit - firstLine / 2);
  };
}

std::vector<FaultCase> faultCases() {
  using S = ImportStep;
  const ErrorLead open = ErrorLead::openFailed;
  const ErrorLead write = ErrorLead::writeFailed;
  const ErrorLead read = ErrorLead::readFailed;
  const std::size_t top1 = sampleToplistLine("first").size();
  const std::size_t top2 = sampleToplistLine("second").size();
  const std::size_t caps = sampleCapsLines(11).size();
  const std::size_t sum = sampleSummaryLine(11).size();
  const auto directory = [](InstallationFile f) {
    return [=](const Installations& in) { replaceByDirectory(f(in.target)); };
  };
  // Where an installation file belongs: a device, a dangling symbolic link, a
  // FIFO. None is a file that opens, and none may hold up the run.
  const auto linkToFull = [](InstallationFile f) {
    return [=](const Installations& in) {
      replaceByLink(f(in.target), "/dev/full");
    };
  };
  const auto dangling = [](InstallationFile f) {
    return [=](const Installations& in) {
      replaceByLink(f(in.target), (in.target + "nowhere").c_str());
    };
  };
  const auto fifo = [](InstallationFile f) {
    return [=](const Installations& in) {
      std::filesystem::remove(f(in.target));
      ::mkfifo(f(in.target).c_str(), 0666);
    };
  };
  // The program's own memory from address 0: it opens, and its first read
  // fails with EIO, as a failing disk would.
  const auto readFails = [](InstallationFile f, bool inSource = false) {
    return [=](const Installations& in) {
      replaceByLink(f(inSource ? in.source : in.target), "/proc/self/mem");
    };
  };
  const auto readOnly = [](InstallationFile f, int mode) {
    return [=](const Installations& in) {
      onlyRootWrites(in, f(in.target), mode);
    };
  };
  const auto missing = [](InstallationFile f) {
    return
        [=](const Installations& in) { std::filesystem::remove(f(in.target)); };
  };

  return {
      // A log left by a run cut off in its first trade: the caps file it
      // would cut back cannot be written, so nothing is changed and the log
      // stays for the next run.
      fault("LogCannotBePutBack", 0, S::counter, write, capsPath)
          .inRecovery()
          .with([](const Installations& in) {
            UndoLogEncoder encoder;
            UndoRecord cut;
            cut.name = capsPath("");  // the log names files below the target
            std::string log = encoder.startGroup(1);
            log += encoder.encode(cut);
            writeFile(journalPath(in.target), log);
            ::chmod(journalPath(in.target).c_str(), 0600);
            replaceByDirectory(capsPath(in.target));
          }),
      // Both indexes are read whole before any trade.
      fault("SourceIndexMissing", 0, S::counter, open, sourceIndexPath)
          .indexRead(true)
          .with([](const Installations& in) {
            std::filesystem::remove(sourceIndexPath(in.source));
          }),
      fault("SourceIndexIsADirectory", 0, S::counter, open, sourceIndexPath)
          .indexRead(true)
          .with([](const Installations& in) {
            replaceByDirectory(sourceIndexPath(in.source));
          }),
      fault("SourceIndexUnreadable", 0, S::counter, open, sourceIndexPath)
          .indexRead(true)
          .asNobody()
          .with([](const Installations& in) {
            ::chmod(sourceIndexPath(in.source).c_str(), 0600);
          }),
      fault("SourceIndexReadFails", 0, S::counter, read, sourceIndexPath)
          .indexRead(true)
          .with(readFails(sourceIndexPath, true)),
      fault("TargetIndexReadFails", 0, S::counter, read, targetIndexPath)
          .indexRead(false)
          .with(readFails(targetIndexPath)),
      fault("TargetIndexMissing", 0, S::counter, open, targetIndexPath)
          .indexRead(false)
          .with(missing(targetIndexPath)),
      fault("TargetIndexIsADirectory", 0, S::counter, open, targetIndexPath)
          .indexRead(false)
          .with(directory(targetIndexPath)),
      fault("TargetIndexUnreadable", 0, S::counter, open, targetIndexPath)
          .indexRead(false)
          .asNobody()
          .with(readOnly(targetIndexPath, 0)),
      // The counter is read and rewritten for every trade.
      fault("CounterReadFailsOnFirstTrade", 0, S::counter, open, counterPath)
          .with(directory(counterPath)),
      fault("CounterReadErrorOnLaterTrade", 1, S::counter, read, counterPath)
          .gated(readFails(counterPath)),
      fault("CounterRewriteOpenFailsOnFirstTrade", 0, S::counter, open,
            counterPath)
          .asNobody()
          .with(readOnly(counterPath, 0444)),
      // The log is written before the counter: a cut write stops the run
      // there, before anything changes.
      fault("LogWriteCutOnFirstTrade", 0, S::counter, write, journalPath)
          .limit(1),
      // Where this user cannot create the log, the run goes on without it
      // and the counter's own write fails.
      fault("CounterWriteCutOnFirstTrade", 0, S::counter, write, counterPath)
          .asNobody()
          .limit(1)
          .with([](const Installations& in) {
            giveToUser(in.target, kNobody);
            ::chown(tradeFolderPath(in.target).c_str(), 0, 0);
          }),
      fault("CounterIsADeviceOnFirstTrade", 0, S::counter, open, counterPath)
          .with(linkToFull(counterPath)),
      fault("CounterIsAFifoOnFirstTrade", 0, S::counter, open, counterPath)
          .with(fifo(counterPath)),
      fault("CounterReadFailsOnLaterTrade", 1, S::counter, open, counterPath)
          .gated(directory(counterPath)),
      fault("CounterRewriteOpenFailsOnLaterTrade", 1, S::counter, open,
            counterPath)
          .asNobody()
          .with([](const Installations& in) { giveToUser(in.target, kNobody); })
          .gated([](const Installations& in) {
            // A counter that only root may write, as the test makes it.
            std::filesystem::remove(counterPath(in.target));
            writeFile(counterPath(in.target), "11");
            ::chmod(counterPath(in.target).c_str(), 0444);
          }),
      fault("CounterHasNoIdLeftOnLaterTrade", 1, S::counter,
            ErrorLead::noFreeId, counterPath)
          .ids(2147483647)
          .with([](const Installations& in) {
            writeFile(counterPath(in.target), "2147483646");
          }),
      // The record is appended after the counter has moved on.
      fault("IndexAppendOpenFailsOnFirstTrade", 0, S::index, open,
            targetIndexPath)
          .asNobody()
          .with(readOnly(targetIndexPath, 0444)),
      fault("TargetIndexIsADevice", 0, S::counter, open, targetIndexPath)
          .indexRead(false)
          .with(linkToFull(targetIndexPath)),
      fault("IndexIsADanglingLinkOnLaterTrade", 1, S::index, open,
            targetIndexPath)
          .gated(dangling(targetIndexPath)),
      fault("IndexAppendCutOnFirstTrade", 0, S::index, write, targetIndexPath)
          .limit(kSizeLimit)
          .with([](const Installations& in) { fillIndex(in, 100); }),
      fault("IndexAppendCutOnLaterTrade", 1, S::index, write, targetIndexPath)
          .limit(kSizeLimit)
          .with([](const Installations& in) { fillIndex(in, 99); }),
      fault("IndexAppendOpenFailsOnLaterTrade", 1, S::index, open,
            targetIndexPath)
          .gated(directory(targetIndexPath)),
      // The toplist is measured, then appended.
      fault("ToplistReadFailsOnFirstTrade", 0, S::toplist, open, toplistPath)
          .with(missing(toplistPath)),
      fault("ToplistReadErrorOnFirstTrade", 0, S::toplist, read, toplistPath)
          .with(readFails(toplistPath)),
      fault("ToplistAppendOpenFailsOnFirstTrade", 0, S::toplist, open,
            toplistPath)
          .asNobody()
          .with(readOnly(toplistPath, 0444)),
      fault("ToplistIsADeviceOnFirstTrade", 0, S::toplist, open, toplistPath)
          .with(linkToFull(toplistPath)),
      fault("ToplistIsADanglingLinkOnFirstTrade", 0, S::toplist, open,
            toplistPath)
          .with(dangling(toplistPath)),
      fault("ToplistIsAFifoOnFirstTrade", 0, S::toplist, open, toplistPath)
          .with(fifo(toplistPath)),
      fault("ToplistAppendCutOnFirstTrade", 0, S::toplist, write, toplistPath)
          .limit(kSizeLimit)
          .with(firstAppendCrossesLimit(toplistPath, top1)),
      fault("ToplistAppendCutOnLaterTrade", 1, S::toplist, write, toplistPath)
          .limit(kSizeLimit)
          .with(secondAppendCrossesLimit(toplistPath, top1, top2)),
      // Caps.
      fault("CapsOpenFailsOnFirstTrade", 0, S::caps, open, capsPath)
          .with(directory(capsPath)),
      fault("CapsIsADeviceOnFirstTrade", 0, S::caps, open, capsPath)
          .with(linkToFull(capsPath)),
      fault("CapsIsADanglingLinkOnFirstTrade", 0, S::caps, open, capsPath)
          .with(dangling(capsPath)),
      fault("CapsAppendCutOnLaterTrade", 1, S::caps, write, capsPath)
          .limit(kSizeLimit)
          .with(secondAppendCrossesLimit(capsPath, caps, caps)),
      // The statistics file of the trade's identifier.
      fault("StatsOpenFailsOnFirstTrade", 0, S::stats, open, statsFile("11"))
          .with(directory(statsFile("11"))),
      // A link planted where the statistics file goes is not followed.
      fault("StatsLinkRefusedOnFirstTrade", 0, S::stats, open, statsFile("11"))
          .with(linkToFull(statsFile("11"))),
      fault("StatsWriteCutOnFirstTrade", 0, S::stats, write, statsFile("11"))
          .limit(40000),
      fault("StatsOpenFailsOnLaterTrade", 1, S::stats, open, statsFile("12"))
          .with(directory(statsFile("12"))),
      fault("StatsLinkRefusedOnLaterTrade", 1, S::stats, open, statsFile("12"))
          .with(linkToFull(statsFile("12"))),
      // Summary. A statistics file that the failing trade replaced gets its
      // bytes back.
      fault("SummaryOpenFailsOnFirstTrade", 0, S::summary, open, summaryPath)
          .with([](const Installations& in) {
            replaceByDirectory(summaryPath(in.target));
            writeFile(statsFilePath(in.target, "11"), "old statistics");
          }),
      fault("SummaryIsADeviceOnFirstTrade", 0, S::summary, open, summaryPath)
          .with(linkToFull(summaryPath)),
      fault("SummaryIsADanglingLinkOnFirstTrade", 0, S::summary, open,
            summaryPath)
          .with(dangling(summaryPath)),
      fault("SummaryAppendCutOnLaterTrade", 1, S::summary, write, summaryPath)
          .limit(kSizeLimit)
          .with(secondAppendCrossesLimit(summaryPath, sum, sum)),
      // The history file is made when it can be; the run goes on regardless.
      goesOn("HistoryDirectoryMissing", 0).with(missing(historyFolderPath)),
      goesOn("HistoryDirectoryNotWritable", 0)
          .asNobody()
          .with(readOnly(historyFolderPath, 0755))
          .adjust([](FileTree* tree) {
            for (const char* key : kKeys)
              tree->erase(historyFilePath("kv2/", key));
          }),
      // Only a file the run created has its mode opened up.
      goesOn("HistoryFileIsADirectoryOnLaterTrade", 1)
          .with(directory(historyFile("second")))
          .adjust([](FileTree* tree) {
            (*tree)[historyFilePath("kv2/", "second")] = {'d', 0755, ""};
          }),
      goesOn("HistoryFileIsAFifoOnLaterTrade", 1)
          .with(fifo(historyFile("second")))
          .adjust([](FileTree* tree) {
            (*tree)[historyFilePath("kv2/", "second")] = {'p', 0644, ""};
          }),
  };
}

class FaultMatrixTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrixTest, PageEndAndDiskMatchTheStepsBeforeTheFault) {
  const FaultCase& c = GetParam();
  if ((c.runAsUid || c.atGate) && geteuid() != 0)
    GTEST_SKIP() << "needs root: runs as another user or holds the run";
  Installations in;
  std::vector<SourceFields> trades;
  for (int i = 0; i < kTradeCount; ++i)
    trades.push_back(sampleTrade(std::to_string(12 + i), kKeys[i]));
  in.writeSourceIndex(trades);
  if (c.setup) c.setup(in);
  const std::string root = in.dir.path();
  FileTree expected = readTree(root);
  std::optional<ToplistGate> gate;
  if (c.atGate) gate.emplace(in.target);

  CgiRequest request = postRequest(formBody(in.source, in.target));
  request.runAsUid = c.runAsUid;
  request.fileSizeLimit = c.fileSizeLimit;
  request.timeout = kRunTimeout;
  RunningCgi run(request);
  int fromTrade = 0;
  if (gate) {
    // The first trade waits at its toplist step: change the disk under it,
    // then let it finish.
    ASSERT_TRUE(gate->waitForRun(kRunTimeout));
    c.atGate(in);
    expected = readTree(root);
    // The run's log of its open group and its lock, gone when the run ends.
    expected.erase(journalPath("kv2/"));
    expected.erase(lockPath("kv2/"));
    applyImportSteps(&expected, "kv2/", c.firstId, kKeys[0],
                     ImportStep::toplist, ImportStep::done);
    gate->release();
    fromTrade = 1;
  }
  const bool endsRun = c.lead.has_value();
  std::string pageEnd = loadingLine();
  for (int i = 0; i < kTradeCount && !c.beforeTrades; ++i) {
    // The failing trade is undone whole: it leaves nothing behind.
    if (endsRun && i == c.failingTrade) break;
    if (i >= fromTrade) {
      applyImport(&expected, "kv2/", c.firstId + i, kKeys[i], ImportStep::done);
    }
    pageEnd += addedLine(kKeys[i]);
  }
  if (c.adjustExpected) c.adjustExpected(&expected);
  if (endsRun) {
    const std::string failed =
        c.failingFile(c.inSource ? in.source : in.target);
    pageEnd += errorBlock(*c.lead, failed, c.withLink);
  } else {
    pageEnd += closingBlock();
  }

  const CgiResult result = run.finish();
  EXPECT_FALSE(result.timedOut);
  EXPECT_FALSE(result.memoryExceeded);
  EXPECT_EQ(0, result.exitStatus);
  EXPECT_EQ(pageEnd, pageAfterForm(result.page));
  EXPECT_EQ(describeTree(expected), describeTree(readTree(root)));
}

INSTANTIATE_TEST_SUITE_P(EveryFileAtItsStep, FaultMatrixTest,
                         testing::ValuesIn(faultCases()),
                         [](const testing::TestParamInfo<FaultCase>& row) {
                           return row.param.name;
                         });

}  // namespace

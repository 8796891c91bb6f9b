#include "conversion/conversion.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/folder_access.h"
#include "base/numbers.h"
#include "companion/companion_files.h"
#include "conversion/installation_folders.h"
#include "conversion/recovery_rules.h"
#include "conversion/run_failure.h"
#include "conversion/stop_signals.h"
#include "import/installation_paths.h"
#include "import/source_index.h"
#include "import/target_index.h"
#include "import/trade_conversion.h"
#include "import/trade_id_counter.h"
#include "journal/durable_file.h"
#include "journal/file_journal.h"

// A group of trades is made durable at once: one sync for many trades, and
// after a kill or a power cut the next run imports the whole group again. It
// ends after this many trades or this long, whichever comes first: every sync
// writes out again the blocks of the two large folders that the group's new
// files went into, so short groups would write those many times over. The
// first group is short and each one after it twice as long, up to that: a run
// that a host's limit kills after a second or two has still kept most of its
// work.
#ifdef CONVERT_GROUP_TRADES_FOR_TESTS
// A build for the fault sweep ends its groups sooner, so that a small run has
// several and the log is written over older groups.
const int kGroupTrades = CONVERT_GROUP_TRADES_FOR_TESTS;
#else
const int kGroupTrades = 20000;
#endif

TradeFate fateOf(const SourceTrade& trade, const KnownTradeKeys& known) {
  return fateOf(trade, isKnownTrade(trade, known));
}

TradeFate fateOf(const SourceTrade& trade, bool isKnown) {
  if (isKnown) return TradeFate::alreadyInTarget;
  if (readNumber(trade.field1) <= 10) return TradeFate::belowThreshold;
  // A key the record cannot hold whole would never match on a later run:
  // leave it out.
  if (!fitsTextField(kKeyField, trade.key)) return TradeFate::unstorableKey;
  return TradeFate::import;
}

namespace {

constexpr auto kFirstGroupTime = std::chrono::milliseconds(250);
constexpr auto kGroupTime = std::chrono::milliseconds(2000);

// Reports the failed step and ends the run there. The error number of a
// failed call is taken as the failing step left it, unless the step kept its
// own.
RunEnd failedAt(RunFailure failure, RunStage stage, ConversionReport* report) {
  if (failure.systemError == 0 && failure.isCallFailure())
    failure.systemError = errno;
  report->failed(failure, stage);
  return RunEnd::failed;
}

// Imports one trade: a new identifier, its record and its companion files, all
// changed through `journal`. Names the step that failed.
RunFailure importTrade(const std::string& target, const SourceTrade& trade,
                       const LoadedTradeIds& loadedIds,
                       const std::string& remoteAddress, FileJournal* journal) {
  int32_t id = 0;
  const TradeIdError issued = nextTradeId(target, loadedIds, journal, &id);
  if (!issued.ok()) return failureOf(issued);
  const TargetTrade record = convertTrade(trade, id, remoteAddress);
  FileError error = appendTargetTrade(target, record, journal);
  if (error.ok()) error = writeCompanionFiles(target, trade, id, journal);
  return failureOf(error);
}

uint64_t countTrades(std::string_view sourceIndex) {
  SourceTradeReader reader(sourceIndex);
  SourceTrade trade;
  uint64_t count = 0;
  while (reader.next(&trade)) ++count;
  return count;
}

// The trade loop over a loaded source and target, in groups.
RunEnd importTrades(const Folders& folders, const std::string& target,
                    std::string_view sourceIndex,
                    const std::vector<TargetTrade>& targetTrades,
                    const std::string& remoteAddress,
                    ConversionReport* report) {
  const KnownTradeKeys known(targetTrades);
  const LoadedTradeIds loadedIds = collectTradeIds(targetTrades);
  SourceTradeReader sourceTrades(sourceIndex);
  SourceTrade trade;
  FileJournal journal(folders, target, journalPath(target),
                      appendedFilePaths(target));
  int groupTrades = 0;
  auto groupStart = std::chrono::steady_clock::now();
  std::chrono::milliseconds groupTime = kFirstGroupTime;
  bool stopped = false;
  while (sourceTrades.next(&trade)) {
    // Between trades: no trade is cut half way.
    if (isStopRequested()) {
      stopped = true;
      break;
    }
    switch (fateOf(trade, known)) {
      case TradeFate::alreadyInTarget:
        report->alreadyInTarget(trade.key);
        continue;
      case TradeFate::belowThreshold:
        report->belowThreshold(trade.key);
        continue;
      case TradeFate::unstorableKey:
        report->unstorableKey(trade.key);
        continue;
      case TradeFate::import:
        break;
    }
    if (groupTrades == 0) groupStart = std::chrono::steady_clock::now();
    RunFailure failure =
        importTrade(target, trade, loadedIds, remoteAddress, &journal);
    if (!failure.ok()) {
      // A trade is imported whole or not at all: a half trade's record would
      // make every later run skip it, and its missing files would never be
      // written. The undo's calls must not hide why the step failed.
      if (failure.isCallFailure()) failure.systemError = errno;
      const FileError undone = journal.rollback();
      // An undo cut short is finished by the next run, from the log.
      return failedAt(failure,
                      undone.ok() ? RunStage::importing : RunStage::recovering,
                      report);
    }
    journal.commit();
    report->added(trade.key);
    if (++groupTrades >= kGroupTrades ||
        std::chrono::steady_clock::now() - groupStart >= groupTime) {
      // A group that cannot be made durable stays covered by the log: the
      // next run puts it back and imports it again.
      const FileError ended = journal.endGroup();
      if (!ended.ok())
        return failedAt(failureOf(ended), RunStage::importing, report);
      report->groupEnded();
      groupTrades = 0;
      groupTime = std::min(groupTime * 2, kGroupTime);
    }
  }
  const FileError finished = journal.finish();
  if (!finished.ok())
    return failedAt(failureOf(finished), RunStage::importing, report);
  return stopped ? RunEnd::stopped : RunEnd::finished;
}

}  // namespace

UnnamedFolderEnd endOfUnnamedFolder(const std::string& source,
                                    bool sourceNamesNoFile,
                                    bool targetHoldsZeroByte) {
  UnnamedFolderEnd end;
  end.inUnnamedFolder = true;
  end.failure.reason = Failure::openFailed;
  // The order of convertInstallations: the source index first.
  end.failure.path = sourceIndexPath("");
  if (sourceNamesNoFile) return end;
  Folders folders(trustOfThisRun());
  FileError error = openSourceFolders(source, &folders);
  if (!error.ok()) return {failureOf(error), RunStage::preparing, false};
  std::string sourceIndex;
  error = readSourceIndex(folders, source, &sourceIndex);
  if (!error.ok()) return {failureOf(error), RunStage::readingIndex, false};
  // In the target, the rollback log is looked for before the index is read;
  // a path that holds a zero byte is one where no log can be, and the index
  // is next.
  end.failure.path =
      targetHoldsZeroByte ? targetIndexPath("") : journalPath("");
  end.stage =
      targetHoldsZeroByte ? RunStage::readingIndex : RunStage::recovering;
  return end;
}

RunEnd convertInstallations(const std::string& source,
                            const std::string& target,
                            const std::string& remoteAddress,
                            ConversionReport* report) {
  // Every file is reached through these folders, each walked and judged once
  // now, whatever happens to their paths during the run. In a folder that
  // another user can change, that user could plant links, hard links or a
  // log of their own: touch nothing there.
  Folders folders(trustOfThisRun());
  FileError error = openSourceFolders(source, &folders);
  if (!error.ok())
    return failedAt(failureOf(error), RunStage::preparing, report);
  // The source index is read whole and closed now; its trades are taken from
  // the text one at a time, so that memory holds the text and one trade.
  std::string sourceIndex;
  error = readSourceIndex(folders, source, &sourceIndex);
  if (!error.ok())
    return failedAt(failureOf(error), RunStage::readingIndex, report);
  error = openTargetFolders(target, &folders);
  if (!error.ok())
    return failedAt(failureOf(error), RunStage::preparing, report);
  // A second run over the same target (a double-click, a reload) waits here,
  // saying so, then sees this run's trades in the index it loads.
  RunLock lock;
  const JournalError locked =
      lock.take(folders, lockPath(target),
                LockWait{[report] { report->waiting(); }, isStopRequested});
  if (!locked.ok())
    return failedAt(failureOf(locked), RunStage::preparing, report);
  if (!lock.isHeld() && isStopRequested()) return RunEnd::stopped;
  // A run that was cut off left its group's log: put every file back first,
  // so that the group's trades are imported again, whole. Only the group's
  // own records and lines are cut off, told apart by the source's keys.
  const JournalError recovered =
      recoverFromLog(folders, target, journalPath(target),
                     conversionRecoveryRules(sourceIndex, kGroupTrades));
  if (!recovered.ok())
    return failedAt(failureOf(recovered), RunStage::recovering, report);
  std::vector<TargetTrade> targetTrades;
  error = readTargetIndex(folders, target, &targetTrades);
  if (!error.ok())
    return failedAt(failureOf(error), RunStage::readingIndex, report);
  if (report->wantsTradeCount()) report->counted(countTrades(sourceIndex));
  return importTrades(folders, target, sourceIndex, targetTrades, remoteAddress,
                      report);
}

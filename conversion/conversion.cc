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
// ends after this many trades or this long, whichever comes first. Every sync
// writes out again the blocks of the two large folders that the group's new
// files went into: with groups of 500 trades a conversion on a disk wrote
// 4.4 KB per trade instead of 1.8, with groups of two seconds 1.9. The first
// group is short and each one after it twice as long, up to that: a run that
// a host's limit kills after a second or two has still kept most of its work.
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
  if (isKnown) return TradeFate::skip;
  if (readNumber(trade.field1) <= 10) return TradeFate::belowThreshold;
  // A key the record cannot hold whole would never match on a later run:
  // leave it out.
  if (!fitsTextField(kKeyField, trade.field2)) return TradeFate::unstorableKey;
  return TradeFate::import;
}

namespace {

constexpr auto kFirstGroupTime = std::chrono::milliseconds(250);
constexpr auto kGroupTime = std::chrono::milliseconds(2000);

// Reports the failed step and ends the run there.
// Whether `error` is a system call's failure, whose number errno still holds
// when the failing step has just returned.
bool isCallFailure(const FileError& error) {
  return error.result == FileResult::openFailed ||
         error.result == FileResult::readFailed ||
         error.result == FileResult::writeFailed;
}

RunEnd failedAt(FileError error, RunStage stage, ConversionReport* report) {
  if (error.systemError == 0 && isCallFailure(error)) error.systemError = errno;
  report->failed(error, stage);
  return RunEnd::failed;
}

// Imports one trade: a new identifier, its record and its companion files, all
// changed through `journal`. False, with `error` filled, when a step failed.
bool importTrade(const std::string& target, const SourceTrade& trade,
                 const LoadedTradeIds& loadedIds,
                 const std::string& remoteAddress, FileJournal* journal,
                 FileError* error) {
  int32_t id = 0;
  if (!nextTradeId(target, loadedIds, journal, &id, error)) return false;
  const TargetTrade record = convertTrade(trade, id, remoteAddress);
  if (!appendTargetTrade(target, record, journal, error)) return false;
  return writeCompanionFiles(target, trade, id, journal, error);
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
                      {targetIndexPath(target), toplistPath(target),
                       capsPath(target), summaryPath(target)});
  FileError error;
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
      case TradeFate::skip:
        report->skipping(trade.field2);
        continue;
      case TradeFate::belowThreshold:
        report->belowThreshold(trade.field2);
        continue;
      case TradeFate::unstorableKey:
        report->unstorableKey(trade.field2);
        continue;
      case TradeFate::import:
        break;
    }
    if (groupTrades == 0) groupStart = std::chrono::steady_clock::now();
    if (!importTrade(target, trade, loadedIds, remoteAddress, &journal,
                     &error)) {
      // A trade is imported whole or not at all: a half trade's record would
      // make every later run skip it, and its missing files would never be
      // written. The undo's calls must not hide why the step failed.
      if (isCallFailure(error)) error.systemError = errno;
      const bool undone = journal.rollback();
      // An undo cut short is finished by the next run, from the log.
      return failedAt(
          error, undone ? RunStage::importing : RunStage::recovering, report);
    }
    journal.commit();
    report->added(trade.field2);
    if (++groupTrades >= kGroupTrades ||
        std::chrono::steady_clock::now() - groupStart >= groupTime) {
      // A group that cannot be made durable stays covered by the log: the
      // next run puts it back and imports it again.
      const FileResult ended = journal.endGroup();
      if (!succeeded(ended, journal.failedPath(""), &error))
        return failedAt(error, RunStage::importing, report);
      report->groupEnded();
      groupTrades = 0;
      groupTime = std::min(groupTime * 2, kGroupTime);
    }
  }
  // Finished first: the path names the log only once it has failed.
  const FileResult finished = journal.finish();
  if (!succeeded(finished, journal.failedPath(""), &error))
    return failedAt(error, RunStage::importing, report);
  return stopped ? RunEnd::stopped : RunEnd::finished;
}

}  // namespace

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
  if (error.result != FileResult::ok)
    return failedAt(error, RunStage::preparing, report);
  // The source index is read whole and closed now; its trades are taken from
  // the text one at a time, so that memory holds the text and one trade.
  std::string sourceIndex;
  if (!readSourceIndex(folders, source, &sourceIndex, &error))
    return failedAt(error, RunStage::readingIndex, report);
  error = openTargetFolders(target, &folders);
  if (error.result != FileResult::ok)
    return failedAt(error, RunStage::preparing, report);
  // A second run over the same target (a double-click, a reload) waits here,
  // saying so, then sees this run's trades in the index it loads.
  RunLock lock;
  error = lock.take(folders, lockPath(target),
                    LockWait{[report] { report->waiting(); }, isStopRequested});
  if (error.result != FileResult::ok)
    return failedAt(error, RunStage::preparing, report);
  if (!lock.isHeld() && isStopRequested()) return RunEnd::stopped;
  // A run that was cut off left its group's log: put every file back first,
  // so that the group's trades are imported again, whole. Only the group's
  // own records and lines are cut off, told apart by the source's keys.
  error = recoverFromLog(folders, target, journalPath(target),
                         conversionRecoveryRules(sourceIndex, kGroupTrades));
  if (error.result != FileResult::ok)
    return failedAt(error, RunStage::recovering, report);
  std::vector<TargetTrade> targetTrades;
  if (!readTargetIndex(folders, target, &targetTrades, &error))
    return failedAt(error, RunStage::readingIndex, report);
  if (report->wantsTradeCount()) report->counted(countTrades(sourceIndex));
  return importTrades(folders, target, sourceIndex, targetTrades, remoteAddress,
                      report);
}

#include "conversion/conversion_check.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "base/durable_file.h"
#include "base/file_journal.h"
#include "base/folder_access.h"
#include "base/numbers.h"
#include "companion/caps_file.h"
#include "companion/history_file.h"
#include "companion/stats_file.h"
#include "companion/summary_file.h"
#include "companion/toplist_file.h"
#include "conversion/conversion.h"
#include "conversion/installation_folders.h"
#include "conversion/recovery_rules.h"
#include "import/installation_paths.h"
#include "import/trade_id_counter.h"

namespace {

std::string ownerAndMode(const PathFacts& facts) {
  char text[96];
  std::snprintf(text, sizeof text,
                "owner uid %u, mode %04o; this user is uid %u", facts.owner,
                facts.mode, static_cast<unsigned>(::geteuid()));
  return text;
}

// Why this user could not change the file at `path` as the import does;
// empty when it could. A missing file is created through its folder, unless
// `mustExist`.
std::string whyNotChangeable(const Folders& folders, const std::string& path,
                             bool mustExist) {
  PathFacts facts;
  if (!inspectPath(folders, path, &facts)) return "it cannot be looked at";
  if (facts.isDanglingLink) return "a symbolic link that leads nowhere";
  if (!facts.exists) {
    if (mustExist) return "it is missing";
    const std::string folder = folderOf(path);
    PathFacts parent;
    if (!inspectPath(folders, folder, &parent) || !parent.exists)
      return "its folder " + folder + " is missing";
    if (!parent.isDirectory) return folder + " is not a folder";
    if (!parent.writable)
      return "this user cannot create files in " + folder + " (" +
             ownerAndMode(parent) + ")";
    return std::string();
  }
  if (facts.isDirectory) return "a folder stands where the file belongs";
  if (!facts.isRegular) return "not a regular file (a FIFO, socket or device)";
  if (facts.links != 1)
    return "it has " + std::to_string(facts.links) +
           " links: a change would reach the same file elsewhere";
  if (!facts.readable || !facts.writable)
    return "this user cannot read and write it (" + ownerAndMode(facts) + ")";
  return std::string();
}

// Notes a problem with `path`; the first one that stops the import is where
// it stops, as an open failure there.
void notePath(const Folders& folders, ConversionCheck* check,
              const std::string& path, bool mustExist, bool stopsImport) {
  const std::string why = whyNotChangeable(folders, path, mustExist);
  if (why.empty()) return;
  check->problems.push_back(CheckProblem{path, why, stopsImport});
  if (stopsImport && check->stop.result == FileResult::ok)
    check->stop = FileError{FileResult::openFailed, path, std::string()};
}

// Measures the toplist's break index as the import does, from its head.
int64_t toplistBreakIndex(const Folders& folders, const std::string& path,
                          BreakIndexScanner* scanner) {
  FileReader toplist(folders, path);
  char buffer[4096];
  for (;;) {
    const std::size_t n = toplist.read(buffer, sizeof buffer);
    if (scanner->feed(std::string_view(buffer, n)) || n < sizeof buffer) break;
  }
  return scanner->breakIndex();
}

// The source trades' fates, the identifiers and the bytes, as the import's
// trade loop would meet them.
void walkTrades(const Folders& folders, const std::string& target,
                std::string_view sourceIndex,
                const std::vector<TargetTrade>& targetTrades,
                ConversionCheck* check, std::vector<int32_t>* ids) {
  const KnownTradeKeys known(targetTrades);
  const LoadedTradeIds loadedIds = collectTradeIds(targetTrades);
  std::string counterText;
  const bool counterRead = readWholeFile(folders, counterPath(target),
                                         &counterText) == FileResult::ok;
  int32_t counter = parseCounter(counterText);
  BreakIndexScanner scanner;
  toplistBreakIndex(folders, toplistPath(target), &scanner);
  PathFacts index;
  inspectPath(folders, targetIndexPath(target), &index);
  const uint64_t partial = index.size % kTargetTradeSize;
  if (partial != 0) check->recordBytes += kTargetTradeSize - partial;
  SourceTradeReader reader(sourceIndex);
  SourceTrade trade;
  while (reader.next(&trade)) {
    ++check->sourceTrades;
    switch (fateOf(trade, known)) {
      case TradeFate::skip:
        ++check->toSkip;
        continue;
      case TradeFate::belowThreshold:
        ++check->belowThreshold;
        continue;
      case TradeFate::unstorableKey:
        ++check->unstorableKeys;
        continue;
      case TradeFate::import:
        break;
    }
    ++check->toImport;
    int32_t id = 0;
    if (!counterRead || !nextFreeId(counter, loadedIds, &id)) {
      if (counterRead && check->stop.result == FileResult::ok)
        check->stop =
            FileError{FileResult::noFreeId, counterPath(target), std::string()};
      continue;
    }
    counter = id;
    ids->push_back(id);
    check->recordBytes += kTargetTradeSize;
    // A toplist whose first line is not complete yet takes its width from
    // the lines the import appends.
    const std::string line = toplistLine(trade, scanner.breakIndex());
    if (scanner.breakIndex() == -1) scanner.feed(line);
    check->lineBytes +=
        line.size() + capsLines(id, trade).size() + summaryLine(id).size();
    check->statisticsBytes += kStatsFileSize;
  }
}

}  // namespace

void checkConversion(const std::string& source, const std::string& target,
                     ConversionCheck* check) {
  *check = ConversionCheck();
  Folders folders(trustOfThisRun());
  check->stop = openSourceFolders(source, &folders);
  if (check->stop.result != FileResult::ok) return;
  std::string sourceIndex;
  if (!readSourceIndex(folders, source, &sourceIndex, &check->stop)) return;
  check->stop = openTargetFolders(target, &folders);
  if (check->stop.result != FileResult::ok) return;
  check->running = isLockHeld(folders, lockPath(target));
  check->logVerdict = inspectLog(
      folders, target, journalPath(target),
      conversionRecoveryRules(sourceIndex, kGroupTrades), &check->logPresent);
  if (check->logVerdict.result != FileResult::ok) {
    check->stop = check->logVerdict;
    return;
  }
  std::vector<TargetTrade> targetTrades;
  if (!readTargetIndex(folders, target, &targetTrades, &check->stop)) return;
  std::vector<int32_t> ids;
  walkTrades(folders, target, sourceIndex, targetTrades, check, &ids);
  if (!ids.empty()) {
    check->firstId = ids.front();
    check->lastId = ids.back();
  }
  const std::string tradeFolder = tradeFolderPath(target);
  check->freeSpaceKnown = freeSpaceOf(folders, tradeFolder, &check->freeBytes);
  if (check->toImport == 0) return;
  // In the order the first imported trade meets them.
  const FileError noFreeId = check->stop;
  check->stop = FileError();
  notePath(folders, check, counterPath(target), true, true);
  notePath(folders, check, targetIndexPath(target), false, true);
  notePath(folders, check, toplistPath(target), true, true);
  notePath(folders, check, capsPath(target), false, true);
  for (const int32_t id : ids) {
    notePath(folders, check, statsFilePath(target, toDecimalText(id)), false,
             true);
  }
  notePath(folders, check, summaryPath(target), false, true);
  // A history file that cannot be made is passed over.
  const std::string historyFolder = historyFolderPath(target);
  PathFacts history;
  if (!inspectPath(folders, historyFolder, &history) || !history.isDirectory)
    check->problems.push_back(
        CheckProblem{historyFolder,
                     "the history folder is missing: no history files", false});
  else if (!history.writable)
    check->problems.push_back(
        CheckProblem{historyFolder,
                     "this user cannot create history files here (" +
                         ownerAndMode(history) + ")",
                     false});
  if (check->stop.result == FileResult::ok) check->stop = noFreeId;
}

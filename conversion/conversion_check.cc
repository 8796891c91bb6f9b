#include "conversion/conversion_check.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "base/folder_access.h"
#include "base/numbers.h"
#include "companion/companion_formats.h"
#include "conversion/conversion.h"
#include "conversion/installation_folders.h"
#include "conversion/recovery_rules.h"
#include "import/installation_paths.h"
#include "import/trade_id_counter.h"
#include "journal/file_journal.h"
#include "journal/undo_log.h"

namespace {

// The bytes a folder gains for each name, counted for the folders' growth.
constexpr uint64_t kBytesPerName = 32;

std::string ownerAndMode(const PathFacts& facts) {
  char mode[16];
  std::snprintf(mode, sizeof mode, "%04o", facts.mode);
  return "owner " + userName(facts.owner) + ", mode " + mode +
         "; this user is " + userName(static_cast<unsigned>(::geteuid()));
}

// Why this user could not change the file at `path` as the import does, in
// plain words; empty when it could. The import's own open is tried, with its
// flags and its checks.
std::string whyNotChangeable(const Folders& folders, const std::string& path,
                             ChangeOpen how) {
  const FileError probed = probeChange(folders, path, how);
  if (probed.ok()) return std::string();
  const int error = probed.systemError;
  // What cannot be learnt of the file or its folder is left out of the words.
  PathFacts facts;
  (void)inspectPath(folders, path, &facts);
  switch (error) {
    case ENOENT:
      if (facts.isDanglingLink) return "a symbolic link that leads nowhere";
      return "it is missing";
    case EACCES:
      if (!facts.exists) {
        const std::string folder = folderOf(path);
        PathFacts parent;
        (void)inspectPath(folders, folder, &parent);
        return "this user cannot create files in " + folder + " (" +
               ownerAndMode(parent) + ")";
      }
      return "this user cannot write it (" + ownerAndMode(facts) + ")";
    case ELOOP:
      return "a symbolic link stands where the program creates the file";
    case EPERM:
      return "it belongs to user " + userName(facts.owner) +
             ": the program reuses only this user's own files";
    case EINVAL:
      if (facts.isDirectory) return "a folder stands where the file belongs";
      if (facts.links > 1)
        return "it has " + std::to_string(facts.links) +
               " links: a change would reach the same file elsewhere";
      return "not a regular file (a FIFO, socket or device)";
    default:
      return std::strerror(error);
  }
}

// Notes a problem with `path`; the first one that stops the import is where
// it stops, as an open failure there.
void notePath(const Folders& folders, ConversionCheck* check,
              const std::string& path, ChangeOpen how) {
  const std::string why = whyNotChangeable(folders, path, how);
  if (why.empty()) return;
  check->problems.push_back(CheckProblem{path, why, true});
  if (check->stop.ok())
    check->stop = failureOf(FileError(FileResult::openFailed, path, why));
}

// Measures the toplist's break index as the import does, from its head.
void measureToplist(const Folders& folders, const std::string& path,
                    BreakIndexScanner* scanner) {
  FileReader toplist(folders, path);
  char buffer[4096];
  for (;;) {
    const std::size_t n = toplist.read(buffer, sizeof buffer);
    if (scanner->feed(std::string_view(buffer, n)) || n < sizeof buffer) break;
  }
}

// What the log of a cut-off group says the target was before it: the index's
// size and the counter's text, from the first record of each.
struct LoggedGroup {
  std::optional<uint64_t> indexSize;
  std::optional<std::string> counterText;

  void note(const UndoRecord& record) {
    if (record.name == targetIndexPath("") && !indexSize)
      indexSize = record.kind == UndoRecord::Kind::cutBack ? record.size : 0;
    if (record.name == counterPath("") && !counterText)
      counterText = record.bytes;
  }
};

uint64_t roundUp(uint64_t bytes, uint64_t block) {
  return block == 0 ? bytes : (bytes + block - 1) / block * block;
}

// The blocks a file of `size` bytes grows by when `added` are appended.
uint64_t growth(const Folders& folders, const std::string& path, uint64_t added,
                uint64_t block) {
  PathFacts facts;
  (void)inspectPath(folders, path, &facts);  // not learnt: it grows whole
  return roundUp(facts.size + added, block) - roundUp(facts.size, block);
}

// The source trades' fates, the identifiers and the bytes, as the import's
// trade loop would meet them, with the target as `targetTrades` and the
// counter's text.
void walkTrades(const std::string& counterText, bool counterRead,
                BreakIndexScanner scanner, std::string_view sourceIndex,
                const std::vector<TargetTrade>& targetTrades,
                uint64_t indexSize, ConversionCheck* check,
                std::vector<int32_t>* ids, uint64_t* appended) {
  const KnownTradeKeys known(targetTrades);
  const LoadedTradeIds loadedIds = collectTradeIds(targetTrades);
  int32_t counter = parseCounter(counterText);
  const uint64_t partial = indexSize % kTargetTradeSize;
  if (partial != 0) check->recordBytes += kTargetTradeSize - partial;
  SourceTradeReader reader(sourceIndex);
  SourceTrade trade;
  while (reader.next(&trade)) {
    ++check->sourceTrades;
    switch (fateOf(trade, known)) {
      case TradeFate::alreadyInTarget:
        ++check->alreadyInTarget;
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
      if (counterRead && check->stop.ok())
        check->stop.reason = Failure::noFreeId;
      continue;
    }
    counter = id;
    ids->push_back(id);
    check->recordBytes += kTargetTradeSize;
    // A toplist whose first line is not complete yet takes its width from
    // the lines the import appends.
    const std::string line = toplistLine(trade, scanner.breakIndex());
    if (scanner.breakIndex() == -1) scanner.feed(line);
    appended[0] += line.size();
    appended[1] += capsLines(id, trade).size();
    appended[2] += summaryLine(id).size();
    check->statisticsBytes += kStatsFileSize;
  }
  check->lineBytes = appended[0] + appended[1] + appended[2];
}

}  // namespace

void checkConversion(const std::string& source, const std::string& target,
                     ConversionCheck* check) {
  *check = ConversionCheck();
  Folders folders(trustOfThisRun());
  check->stop = failureOf(openSourceFolders(source, &folders));
  if (!check->stop.ok()) return;
  std::string sourceIndex;
  check->stop = failureOf(readSourceIndex(folders, source, &sourceIndex));
  if (!check->stop.ok()) return;
  check->stop = failureOf(openTargetFolders(target, &folders));
  if (!check->stop.ok()) return;
  check->running = isLockHeld(folders, lockPath(target));
  // A running conversion's log is its own, in use: not a cut-off run's. The
  // records recovery would accept are noted as it reads them.
  LoggedGroup logged;
  if (!check->running) {
    RecoveryRules rules = conversionRecoveryRules(sourceIndex, kGroupTrades);
    rules.notice = [&logged, notice = rules.notice](const UndoRecord& record) {
      notice(record);
      logged.note(record);
    };
    check->logVerdict = failureOf(inspectLog(
        folders, target, journalPath(target), rules, &check->logPresent));
    if (!check->logVerdict.ok()) {
      check->stop = check->logVerdict;
      return;
    }
  }
  std::vector<TargetTrade> targetTrades;
  check->stop = failureOf(readTargetIndex(folders, target, &targetTrades));
  if (!check->stop.ok()) return;
  std::string counterText;
  bool counterRead =
      readWholeFile(folders, counterPath(target), &counterText).ok();
  // A size not learnt counts as none: the figures are estimates.
  PathFacts index;
  (void)inspectPath(folders, targetIndexPath(target), &index);
  uint64_t indexSize = index.size;
  // The figures after the import puts the cut-off group back, from its log.
  if (logged.indexSize && *logged.indexSize < indexSize) {
    const uint64_t kept =
        (*logged.indexSize + kTargetTradeSize - 1) / kTargetTradeSize;
    check->toPutBack = targetTrades.size() - kept;
    targetTrades.resize(static_cast<std::size_t>(kept));
    indexSize = *logged.indexSize;
  }
  if (logged.counterText) {
    counterText = *logged.counterText;
    counterRead = true;
  }
  BreakIndexScanner scanner;
  measureToplist(folders, toplistPath(target), &scanner);
  std::vector<int32_t> ids;
  uint64_t appended[3] = {0, 0, 0};  // toplist, caps, summary
  walkTrades(counterText, counterRead, scanner, sourceIndex, targetTrades,
             indexSize, check, &ids, appended);
  if (check->stop.reason == Failure::noFreeId)
    check->stop.path = counterPath(target);
  if (!ids.empty()) {
    check->firstId = ids.front();
    check->lastId = ids.back();
  }
  const std::string tradeFolder = tradeFolderPath(target);
  uint64_t block = 0;
  check->freeSpaceKnown =
      freeSpaceOf(folders, tradeFolder, &check->freeBytes, &block).ok();
  if (check->toImport == 0) return;
  check->spaceNeeded =
      check->toImport * (roundUp(kStatsFileSize, block) + 2 * kBytesPerName) +
      growth(folders, targetIndexPath(target), check->recordBytes, block) +
      growth(folders, toplistPath(target), appended[0], block) +
      growth(folders, capsPath(target), appended[1], block) +
      growth(folders, summaryPath(target), appended[2], block);
  check->noSpace =
      check->freeSpaceKnown && check->spaceNeeded > check->freeBytes;
  // In the order the first imported trade meets them.
  const RunFailure noFreeId = check->stop;
  check->stop = RunFailure();
  notePath(folders, check, counterPath(target), ChangeOpen::update);
  notePath(folders, check, targetIndexPath(target), ChangeOpen::append);
  notePath(folders, check, toplistPath(target), ChangeOpen::update);
  notePath(folders, check, capsPath(target), ChangeOpen::append);
  for (const int32_t id : ids) {
    notePath(folders, check, statsFilePath(target, toDecimalText(id)),
             ChangeOpen::create);
  }
  notePath(folders, check, summaryPath(target), ChangeOpen::append);
  // A history file that cannot be made is passed over.
  const std::string historyFolder = historyFolderPath(target);
  PathFacts history;
  if (!inspectPath(folders, historyFolder, &history).ok() ||
      !history.isDirectory)
    check->problems.push_back(
        CheckProblem{historyFolder,
                     "the history folder is missing: no history files", false});
  else if (!history.writable)
    check->problems.push_back(
        CheckProblem{historyFolder,
                     "this user cannot create history files here (" +
                         ownerAndMode(history) + ")",
                     false});
  if (check->stop.ok()) check->stop = noFreeId;
}

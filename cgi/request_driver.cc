#include "cgi/request_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/file_journal.h"
#include "base/numbers.h"
#include "cgi/form_decoder.h"
#include "cgi/page.h"
#include "cgi/stop_signals.h"
#include "companion/companion_files.h"
#include "import/installation_paths.h"
#include "import/source_index.h"
#include "import/target_index.h"
#include "import/target_log_rules.h"
#include "import/trade_conversion.h"
#include "import/trade_id_counter.h"

namespace {

std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// Imports one trade: a new identifier, its record and its companion files, all
// changed through `journal`. False when a step failed (it has written the
// error block).
bool importTrade(std::ostream& page, const std::string& target,
                 const SourceTrade& trade, const LoadedTradeIds& loadedIds,
                 const std::string& remoteAddress, FileJournal* journal) {
  int32_t id = 0;
  if (!nextTradeId(page, target, loadedIds, journal, &id)) return false;
  const TargetTrade record = convertTrade(trade, id, remoteAddress);
  if (!appendTargetTrade(page, target, record, journal)) return false;
  return writeCompanionFiles(page, target, trade, id, journal);
}

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
constexpr int kGroupTrades = CONVERT_GROUP_TRADES_FOR_TESTS;
#else
constexpr int kGroupTrades = 20000;
#endif
constexpr auto kFirstGroupTime = std::chrono::milliseconds(250);
constexpr auto kGroupTime = std::chrono::milliseconds(2000);

// How a conversion ended.
enum class RunEnd { finished, failed, stopped };

// Imports every trade of the source that the target lacks. A step that ends
// the run has written the error block; a stop ends it between trades.
RunEnd convertInstallations(std::ostream& page,
                            const std::vector<std::string>& form,
                            const std::string& remoteAddress) {
  const std::string& source = form[0];
  const std::string& target = form[1];
  const std::string dataFolder = dataFolderPath(target);
  const std::string tradeFolder = tradeFolderPath(target);
  const std::string historyFolder = historyFolderPath(target);
  // The source index is read whole and closed now; its trades are taken from
  // the text one at a time, so that memory holds the text and one trade.
  std::string sourceIndex;
  if (!readSourceIndex(page, source, &sourceIndex)) return RunEnd::failed;
  // In a folder that every user of the server may write to, another account
  // could plant links, hard links or a log of its own: touch nothing there.
  std::string unsafe;
  if (findFolderOthersCanChange(dataFolder, {tradeFolder, historyFolder},
                                &unsafe)) {
    reportFileResult(page, FileResult::othersCanChange, unsafe, kReturnLink);
    return RunEnd::failed;
  }
  // Every file is reached through these folders as they are now, whatever
  // happens to their paths during the run.
  const PinnedFolders folders({dataFolder, tradeFolder, historyFolder});
  // A second run over the same target (a double-click, a reload) waits here,
  // then sees this run's trades in the index it loads.
  const DirectoryLock lock(tradeFolder);
  // A run that was cut off left its group's log: put every file back first,
  // so that the group's trades are imported again, whole.
  std::string failedPath;
  const FileResult recovered =
      recoverFromLog(target, journalPath(target),
                     targetRecoveryRules(kGroupTrades), &failedPath);
  if (!reportFileResult(page, recovered, failedPath, kReturnLink))
    return RunEnd::failed;
  std::vector<TargetTrade> targetTrades;
  if (!readTargetIndex(page, target, &targetTrades)) return RunEnd::failed;
  const KnownTradeKeys known(targetTrades);
  const LoadedTradeIds loadedIds = collectTradeIds(targetTrades);

  SourceTradeReader sourceTrades(sourceIndex);
  SourceTrade trade;
  FileJournal journal(target, journalPath(target),
                      {targetIndexPath(target), toplistPath(target),
                       capsPath(target), summaryPath(target)});
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
    if (isKnownTrade(page, trade, known)) continue;
    if (readNumber(trade.field1) <= 10) continue;
    // A key the record cannot hold whole would never match on a later run:
    // leave it out.
    if (!fitsTextField(kKeyField, trade.field2)) {
      writeUnstorableKeyLine(page, trade.field2);
      continue;
    }
    if (groupTrades == 0) groupStart = std::chrono::steady_clock::now();
    if (!importTrade(page, target, trade, loadedIds, remoteAddress, &journal)) {
      // A trade is imported whole or not at all: a half trade's record would
      // make every later run skip it, and its missing files would never be
      // written.
      journal.rollback();
      return RunEnd::failed;
    }
    journal.commit();
    if (++groupTrades >= kGroupTrades ||
        std::chrono::steady_clock::now() - groupStart >= groupTime) {
      // A group that cannot be made durable stays covered by the log: the
      // next run puts it back and imports it again.
      const FileResult ended = journal.endGroup();
      if (ended != FileResult::ok) {
        reportFileResult(page, ended, journal.failedPath(""), kReturnLink);
        return RunEnd::failed;
      }
      groupTrades = 0;
      groupTime = std::min(groupTime * 2, kGroupTime);
    }
  }
  const FileResult finished = journal.finish();
  if (finished != FileResult::ok) {
    reportFileResult(page, finished, journal.failedPath(""), kReturnLink);
    return RunEnd::failed;
  }
  return stopped ? RunEnd::stopped : RunEnd::finished;
}

// Reads up to the announced number of bytes from `input` in pieces, as many as
// arrive, handing each to `take`.
template <typename Take>
void readBodyPieces(std::istream& input, const std::string& contentLength,
                    Take take) {
  const int64_t announced = readNumber64(contentLength);
  if (announced <= 0) return;
  uint64_t remaining = static_cast<uint64_t>(announced);
  char buffer[1 << 16];
  while (remaining > 0) {
    const std::size_t want = remaining < sizeof buffer
                                 ? static_cast<std::size_t>(remaining)
                                 : sizeof buffer;
    input.read(buffer, static_cast<std::streamsize>(want));
    const std::size_t got = static_cast<std::size_t>(input.gcount());
    take(std::string_view(buffer, got));
    remaining -= got;
    if (got < want) break;
  }
}

}  // namespace

Environment readEnvironment() {
  Environment environment;
  environment.hasContentLength = std::getenv("CONTENT_LENGTH") != nullptr;
  environment.contentLength = environmentText("CONTENT_LENGTH");
  environment.scriptFilename = environmentText("SCRIPT_FILENAME");
  environment.remoteAddress = environmentText("REMOTE_ADDR");
  environment.secFetchSite = environmentText("HTTP_SEC_FETCH_SITE");
  return environment;
}

std::vector<std::string> readFormValues(std::istream& input,
                                        const std::string& contentLength) {
  FormDecoder decoder;
  readBodyPieces(input, contentLength,
                 [&decoder](std::string_view piece) { decoder.feed(piece); });
  decoder.finish();
  return decoder.takeValues();
}

void runRequest(const Environment& environment, std::istream& input,
                std::ostream& page) {
  writePageHead(page, environment.scriptFilename);
  if (environment.hasContentLength) {
    // Any page the owner visits could post a hidden form here with paths of
    // its author's choosing. Browsers mark such a request; without the mark
    // (curl, older browsers) the form is served as always.
    std::vector<std::string> form;
    if (environment.secFetchSite == "cross-site") {
      // Its body is read and dropped, never decoded: a server that gives the
      // program one socket for the body and the page (mod_cgid) resets the
      // connection, and loses the page, when the program leaves it unread.
      readBodyPieces(input, environment.contentLength, [](std::string_view) {});
    } else {
      form = readFormValues(input, environment.contentLength);
    }
    if (form.size() != 3) {
      writeIncorrectFormData(page);
      page.flush();
      return;
    }
    writeLoadingLine(page);
    switch (convertInstallations(page, form, environment.remoteAddress)) {
      case RunEnd::finished:
        break;
      case RunEnd::failed:
        page.flush();
        return;
      case RunEnd::stopped:
        // Not the closing block: the owner must see that trades are left.
        writeStopBlock(page, form[0], form[1]);
        return;
    }
  }
  writeClosingBlock(page);
}

#include "cgi/request_driver.h"

#include <chrono>
#include <climits>
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
#include "import/trade_conversion.h"
#include "import/trade_id_counter.h"

namespace {

std::string variableText(const VariableLookup& lookup, const char* name) {
  const char* value = lookup(name);
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
// 4.4 KB per trade instead of 1.8, with groups of two seconds 1.9.
constexpr int kGroupTrades = 20000;
constexpr auto kGroupTime = std::chrono::seconds(2);

// A folder of PATH_MAX bytes or more, a file name after it, makes a path
// longer than any that the system opens: it names no file, and every open in
// it fails. Its paths are never formed, since the value may be hundreds of
// megabytes.
bool namesNoFile(const FormValue& folder) { return folder.size() >= PATH_MAX; }

// The page of a run whose target names no file: the error block of the first
// file the run opens in it, the path shown but not formed. That is the
// rollback log, looked for before the index; a path that holds a zero byte
// is taken for one where no log can be, and the index is next.
bool failTargetNamingNoFile(std::ostream& page, const FormValue& target) {
  if (target.holdsZeroByte()) {
    writeFileErrorPage(page, target.pieces(), targetIndexPath(""), "");
  } else {
    writeFileErrorPage(page, target.pieces(), journalPath(""), kReturnLink);
  }
  return false;
}

// Imports every trade of the source that the target lacks. Returns false when a
// step ended the run (it has written the error block) or a stop was asked for.
bool convertInstallations(std::ostream& page,
                          const std::vector<FormValue>& form,
                          const std::string& remoteAddress) {
  if (namesNoFile(form[0])) {
    writeFileErrorPage(page, form[0].pieces(), sourceIndexPath(""), "");
    return false;
  }
  const std::string source = form[0].text();
  // The source index is read whole and closed now; its trades are taken from
  // the text one at a time, so that memory holds the text and one trade.
  std::string sourceIndex;
  if (!readSourceIndex(page, source, &sourceIndex)) return false;
  if (namesNoFile(form[1])) return failTargetNamingNoFile(page, form[1]);
  const std::string target = form[1].text();
  // A second run over the same target (a double-click, a reload) waits here,
  // then sees this run's trades in the index it loads.
  const DirectoryLock lock(tradeFolderPath(target));
  // A run that was cut off left its group's log: put every file back first,
  // so that the group's trades are imported again, whole.
  std::string failedPath;
  const FileResult recovered =
      recoverFromLog(target, journalPath(target), &failedPath);
  if (!reportFileResult(page, recovered, failedPath, kReturnLink)) return false;
  std::vector<TargetTrade> targetTrades;
  if (!readTargetIndex(page, target, &targetTrades)) return false;
  const KnownTradeKeys known(targetTrades);
  const LoadedTradeIds loadedIds = collectTradeIds(targetTrades);

  SourceTradeReader sourceTrades(sourceIndex);
  SourceTrade trade;
  FileJournal journal(target, journalPath(target),
                      {targetIndexPath(target), toplistPath(target),
                       capsPath(target), summaryPath(target)});
  int groupTrades = 0;
  auto groupStart = std::chrono::steady_clock::now();
  while (sourceTrades.next(&trade)) {
    // Between trades: no trade is cut half way.
    if (isStopRequested()) break;
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
      return false;
    }
    journal.commit();
    if (++groupTrades >= kGroupTrades ||
        std::chrono::steady_clock::now() - groupStart >= kGroupTime) {
      journal.endGroup();
      groupTrades = 0;
    }
  }
  journal.finish();
  return !isStopRequested();
}

// The number of body bytes that CONTENT_LENGTH announces: none for a length
// that is negative or no number.
uint64_t announcedLength(const std::string& contentLength) {
  const int64_t announced = readNumber64(contentLength);
  return announced > 0 ? static_cast<uint64_t>(announced) : 0;
}

// Reads up to the announced number of bytes from `input` in pieces, as many as
// arrive, handing each to `take`.
template <typename Take>
void readBodyPieces(std::istream& input, const std::string& contentLength,
                    Take take) {
  uint64_t remaining = announcedLength(contentLength);
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

Environment readEnvironment(const VariableLookup& lookup) {
  const auto text = [&lookup](const char* name) {
    return variableText(lookup, name);
  };
  Environment environment;
  environment.requestMethod = text("REQUEST_METHOD");
  environment.hasContentLength = lookup("CONTENT_LENGTH") != nullptr;
  environment.contentLength = text("CONTENT_LENGTH");
  environment.scriptFilename = text("SCRIPT_FILENAME");
  environment.remoteAddress = text("REMOTE_ADDR");
  PostSource& post = environment.postSource;
  post.secFetchSite = text("HTTP_SEC_FETCH_SITE");
  post.origin = text("HTTP_ORIGIN");
  post.referer = text("HTTP_REFERER");
  post.https = text("HTTPS");
  post.requestScheme = text("REQUEST_SCHEME");
  post.host = text("HTTP_HOST");
  post.scriptName = text("SCRIPT_NAME");
  return environment;
}

Environment readEnvironment() {
  return readEnvironment([](const char* name) { return std::getenv(name); });
}

std::vector<FormValue> readFormValues(std::istream& input,
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
  // lighttpd passes CONTENT_LENGTH=0 with a plain page load.
  const bool isPageLoad = !environment.hasContentLength ||
                          (environment.requestMethod == "GET" &&
                           announcedLength(environment.contentLength) == 0);
  if (!isPageLoad) {
    // Any page the owner visits could post a hidden form here with paths of
    // its author's choosing, a neighbour's page on the same host included.
    // Browsers tell where a post comes from; a post that does not say (curl,
    // very old browsers) is served as always.
    std::vector<FormValue> form;
    if (!isFromOwnForm(environment.postSource)) {
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
    if (!convertInstallations(page, form, environment.remoteAddress)) {
      page.flush();
      return;
    }
  }
  writeClosingBlock(page);
}

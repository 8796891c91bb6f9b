#include "companion/companion_files.h"

#include "base/numbers.h"
#include "companion/companion_formats.h"
#include "import/installation_paths.h"

namespace {

FileError appendToplistLine(const std::string& targetPath,
                            const SourceTrade& trade, FileJournal* journal) {
  // Measured and appended through one descriptor: a toplist that cannot be
  // appended to fails at the open, as it would at a second one. The toplist
  // is never created.
  AppendableFile toplist(journal->folders(), toplistPath(targetPath));
  if (!toplist.isOpen())
    return FileError(FileResult::openFailed, toplist.path());
  // Stop as soon as the break index is decided: the rest of the file cannot
  // change it.
  BreakIndexScanner scanner;
  char buffer[4096];
  for (;;) {
    const std::size_t n = toplist.read(buffer, sizeof buffer);
    if (scanner.feed(std::string_view(buffer, n)) || n < sizeof buffer) break;
  }
  if (toplist.hasFailed())
    return FileError(FileResult::readFailed, toplist.path());
  return journal->append(&toplist, toplistLine(trade, scanner.breakIndex()));
}

FileError createHistoryFile(const std::string& targetPath,
                            const std::string& key, FileJournal* journal) {
  // Whether the file could be made is not looked at; a failure of the log
  // that keeps what it replaces is.
  const FileError created =
      journal->createFile(historyFilePath(targetPath, key), 0);
  return created.ok() || !journal->hasLogFailed() ? FileError() : created;
}

}  // namespace

FileError writeCompanionFiles(const std::string& targetPath,
                              const SourceTrade& trade, int32_t id,
                              FileJournal* journal) {
  FileError error = appendToplistLine(targetPath, trade, journal);
  if (error.ok())
    error = journal->append(capsPath(targetPath), capsLines(id, trade));
  if (error.ok())
    error = journal->createFile(statsFilePath(targetPath, toDecimalText(id)),
                                kStatsFileSize);
  if (error.ok())
    error = journal->append(summaryPath(targetPath), summaryLine(id));
  // A key with '/' would name a file outside the history folder: such a trade
  // gets no history file. The history file gets its mode as it is created.
  if (error.ok() && isHistoryFileKey(trade.key))
    error = createHistoryFile(targetPath, trade.key, journal);
  return error;
}

#include "companion/toplist_file.h"

#include "base/file_io.h"
#include "import/installation_paths.h"

bool BreakIndexScanner::feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (breakIndex_ != -1) return true;
    if (c == '|') {
      ++pieceNumber_;
    } else if (c == '\n') {
      // Stays -1 for the piece before the first '|'.
      breakIndex_ = pieceNumber_;
    }
  }
  return breakIndex_ != -1;
}

std::string toplistLine(const SourceTrade& trade, int64_t breakIndex) {
  std::string line;
  line.reserve(trade.field2.size() + trade.field17.size() +
               trade.field18.size() + trade.field19.size() + 8);
  line.append("|").append(trade.field2);
  line.append("|").append(trade.field17);
  line.append("|").append(trade.field18);
  line.append("|").append(trade.field19);
  line.append("|");
  for (int64_t filler = breakIndex - 4; filler > 0; --filler)
    line.push_back('|');
  line.push_back('\n');
  return line;
}

bool appendToplistLine(const std::string& targetPath, const SourceTrade& trade,
                       FileJournal* journal, FileError* error) {
  const std::string path = toplistPath(targetPath);
  // Measured and appended through one descriptor: a toplist that cannot be
  // appended to fails at the open, as it would at a second one.
  AppendableFile toplist(journal->folders(), path);
  if (!toplist.isOpen()) return succeeded(FileResult::openFailed, path, error);
  // Stop as soon as the break index is decided: the rest of the file cannot
  // change it.
  BreakIndexScanner scanner;
  char buffer[4096];
  for (;;) {
    const std::size_t n = toplist.read(buffer, sizeof buffer);
    if (scanner.feed(std::string_view(buffer, n)) || n < sizeof buffer) break;
  }
  if (toplist.hasFailed())
    return succeeded(FileResult::readFailed, path, error);
  const FileResult result =
      journal->append(&toplist, path, toplistLine(trade, scanner.breakIndex()));
  return succeeded(result, journal->failedPath(path), error);
}

#include "companion/stats_files.h"

#include "base/file_io.h"
#include "base/numbers.h"
#include "cgi/page.h"
#include "import/installation_paths.h"

namespace {
constexpr std::string_view kSummaryZeros =
    "|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|"
    "0|0|0|0|0|0|\n";
}  // namespace

bool createStatsFile(std::ostream& page, const std::string& targetPath,
                     const std::string& idText, FileJournal* journal) {
  const std::string path = statsFilePath(targetPath, idText);
  const FileResult result = journal->createZeroFile(path, kStatsFileSize);
  return reportFileResult(page, result, journal->failedPath(path), kReturnLink);
}

std::string summaryLine(int32_t id) {
  std::string line = "|";
  line.append(toDecimalText(id)).append(kSummaryZeros);
  return line;
}

bool appendSummaryLine(std::ostream& page, const std::string& targetPath,
                       int32_t id, FileJournal* journal) {
  const std::string path = summaryPath(targetPath);
  const FileResult result = journal->append(path, summaryLine(id));
  return reportFileResult(page, result, journal->failedPath(path), kReturnLink);
}

bool isHistoryFileKey(std::string_view key) {
  return key.find('/') == std::string_view::npos;
}

bool createHistoryFile(std::ostream& page, const std::string& targetPath,
                       const std::string& key, FileJournal* journal) {
  const std::string path = historyFilePath(targetPath, key);
  // Whether the file could be made is not looked at; a failure of the log
  // that keeps what it replaces is.
  const FileResult result = journal->createEmptyFile(path);
  if (result == FileResult::ok || journal->failedPath(path) == path)
    return true;
  return reportFileResult(page, result, journal->failedPath(path), kReturnLink);
}

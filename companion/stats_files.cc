#include "companion/stats_files.h"

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

namespace {
constexpr std::string_view kSummaryZeros =
    "|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|"
    "0|0|0|0|0|0|\n";
}  // namespace

bool createStatsFile(const std::string& targetPath, const std::string& idText,
                     FileJournal* journal, FileError* error) {
  const std::string path = statsFilePath(targetPath, idText);
  const FileResult result = journal->createZeroFile(path, kStatsFileSize);
  return succeeded(result, journal->failedPath(path), error);
}

std::string summaryLine(int32_t id) {
  std::string line = "|";
  line.append(toDecimalText(id)).append(kSummaryZeros);
  return line;
}

bool appendSummaryLine(const std::string& targetPath, int32_t id,
                       FileJournal* journal, FileError* error) {
  const std::string path = summaryPath(targetPath);
  const FileResult result = journal->append(path, summaryLine(id));
  return succeeded(result, journal->failedPath(path), error);
}

bool isHistoryFileKey(std::string_view key) {
  return key.find('/') == std::string_view::npos;
}

bool createHistoryFile(const std::string& targetPath, const std::string& key,
                       FileJournal* journal, FileError* error) {
  const std::string path = historyFilePath(targetPath, key);
  // Whether the file could be made is not looked at; a failure of the log
  // that keeps what it replaces is.
  const FileResult result = journal->createEmptyFile(path);
  if (result == FileResult::ok || journal->failedPath(path) == path)
    return true;
  return succeeded(result, journal->failedPath(path), error);
}

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
  return reportFileResult(page, journal->createZeroFile(path, kStatsFileSize),
                          path, kReturnLink);
}

std::string summaryLine(int32_t id) {
  std::string line = "|";
  line.append(toDecimalText(id)).append(kSummaryZeros);
  return line;
}

bool appendSummaryLine(std::ostream& page, const std::string& targetPath,
                       int32_t id, FileJournal* journal) {
  const std::string path = summaryPath(targetPath);
  return reportFileResult(page, journal->append(path, summaryLine(id)), path,
                          kReturnLink);
}

bool isHistoryFileKey(std::string_view key) {
  return key.find('/') == std::string_view::npos;
}

bool createHistoryFile(const std::string& targetPath, const std::string& key,
                       FileJournal* journal) {
  return journal->createEmptyFile(historyFilePath(targetPath, key));
}

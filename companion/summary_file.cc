#include "companion/summary_file.h"

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

namespace {
constexpr std::string_view kSummaryZeros =
    "|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|"
    "0|0|0|0|0|0|\n";
}  // namespace

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

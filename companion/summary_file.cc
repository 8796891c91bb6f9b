#include "companion/summary_file.h"

#include <climits>

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

bool readLineId(std::string_view line, int32_t* id, std::string_view* rest) {
  if (line.size() < 3 || line[0] != '|') return false;
  std::size_t at = 1;
  const bool negative = line[at] == '-';
  if (negative) ++at;
  const std::size_t digits = at;
  int64_t value = 0;
  for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
    value = value * 10 + (line[at] - '0');
    if (value > int64_t{INT32_MAX} + 1) return false;
  }
  if (at == digits || at == line.size() || line[at] != '|' ||
      (line[digits] == '0' && (at - digits > 1 || negative)))
    return false;
  value = negative ? -value : value;
  if (value > INT32_MAX) return false;
  *id = static_cast<int32_t>(value);
  *rest = line.substr(at + 1);
  return true;
}

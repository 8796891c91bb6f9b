#include "companion/caps_file.h"

#include "base/numbers.h"
#include "import/installation_paths.h"

std::string capsLines(int32_t id, const SourceTrade& trade) {
  const std::string idText = toDecimalText(id);
  const int32_t caps[3] = {trade.field13, trade.field14, trade.field15};
  std::string lines;
  for (int i = 0; i < 3; ++i) {
    lines.append("|").append(idText).append("|");
    lines.push_back(static_cast<char>('1' + i));
    lines.append("|").append(toDecimalText(caps[i])).append("|\n");
  }
  return lines;
}

bool appendCapsLines(const std::string& targetPath, int32_t id,
                     const SourceTrade& trade, FileJournal* journal,
                     FileError* error) {
  const std::string path = capsPath(targetPath);
  const FileResult result = journal->append(path, capsLines(id, trade));
  return succeeded(result, journal->failedPath(path), error);
}

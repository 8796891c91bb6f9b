#include "companion/stats_file.h"

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

bool createStatsFile(const std::string& targetPath, const std::string& idText,
                     FileJournal* journal, FileError* error) {
  const std::string path = statsFilePath(targetPath, idText);
  const FileResult result = journal->createFile(path, kStatsFileSize);
  return succeeded(result, journal->failedPath(path), error);
}

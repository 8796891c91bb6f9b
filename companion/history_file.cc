#include "companion/history_file.h"

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

bool isHistoryFileKey(std::string_view key) {
  return key.find('/') == std::string_view::npos;
}

bool createHistoryFile(const std::string& targetPath, const std::string& key,
                       FileJournal* journal, FileError* error) {
  const std::string path = historyFilePath(targetPath, key);
  // Whether the file could be made is not looked at; a failure of the log
  // that keeps what it replaces is.
  const FileResult result = journal->createFile(path, 0);
  if (result == FileResult::ok || !journal->hasLogFailed()) return true;
  return succeeded(result, journal->failedPath(path), error);
}

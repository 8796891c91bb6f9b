// The history file of a trade: empty, named by its key.
#ifndef CONVERT_COMPANION_HISTORY_FILE_H_
#define CONVERT_COMPANION_HISTORY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/file_journal.h"

// True when the key names a history file inside the history folder: it holds
// no '/'.
bool isHistoryFileKey(std::string_view key);

// Creates or empties the history file of `key` (not through a symbolic link)
// with mode 0777, through `journal`, which keeps the bytes of a file it
// empties. A file that cannot be made is passed over; false, with `error`
// filled, only when the log that keeps what it replaces failed.
bool createHistoryFile(const std::string& targetPath, const std::string& key,
                       FileJournal* journal, FileError* error);

#endif  // CONVERT_COMPANION_HISTORY_FILE_H_

// The target's caps file: three lines per trade.
#ifndef CONVERT_COMPANION_CAPS_FILE_H_
#define CONVERT_COMPANION_CAPS_FILE_H_

#include <cstdint>
#include <string>

#include "import/source_index.h"
#include "journal/file_journal.h"

// "|id|1|field13|\n|id|2|field14|\n|id|3|field15|\n".
std::string capsLines(int32_t id, const SourceTrade& trade);

// Appends the trade's three lines to the target's caps file through `journal`,
// creating it. On failure fills `error` and returns false.
bool appendCapsLines(const std::string& targetPath, int32_t id,
                     const SourceTrade& trade, FileJournal* journal,
                     FileError* error);

#endif  // CONVERT_COMPANION_CAPS_FILE_H_

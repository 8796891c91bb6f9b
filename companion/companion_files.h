// All the files an imported trade gets besides its record, in their fixed
// order.
#ifndef CONVERT_COMPANION_COMPANION_FILES_H_
#define CONVERT_COMPANION_COMPANION_FILES_H_

#include <cstdint>
#include <string>

#include "import/source_index.h"
#include "journal/file_journal.h"

// Appends the toplist line and the caps lines, writes the statistics file
// (mode 0777), appends the summary line, creates the history file with mode
// 0777 (not for a key holding '/'), then writes the "added" line and flushes.
// The steps that can fail come first and change files through `journal`; the
// history file comes after them, so a failed trade never needs it undone.
// Returns false, with `error` filled, as soon as a step fails.
bool writeCompanionFiles(const std::string& targetPath,
                         const SourceTrade& trade, int32_t id,
                         FileJournal* journal, FileError* error);

#endif  // CONVERT_COMPANION_COMPANION_FILES_H_

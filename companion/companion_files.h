// The files an imported trade gets besides its record, written in their fixed
// order through the journal.
#ifndef CONVERT_COMPANION_COMPANION_FILES_H_
#define CONVERT_COMPANION_COMPANION_FILES_H_

#include <cstdint>
#include <string>

#include "base/file_error.h"
#include "import/source_index.h"
#include "journal/file_journal.h"

// Appends the toplist line (its width measured from the toplist's head), and
// the caps lines, writes the statistics file (mode 0777), appends the summary
// line, then creates or empties the history file with mode 0777 (not for a key
// holding '/'). Every change goes through `journal`; the history file comes
// last and only a failure of the log that keeps what it replaces fails it, so
// a failed trade never needs it undone. Stops at the first step that fails.
FileError writeCompanionFiles(const std::string& targetPath,
                              const SourceTrade& trade, int32_t id,
                              FileJournal* journal);

#endif  // CONVERT_COMPANION_COMPANION_FILES_H_

// What recovery accepts of the rollback log it finds in a target: only the
// records this program writes there, and only cuts that take off what one of
// its groups can have appended. A log that another user or program made up
// could otherwise name any file, mode or size.
#ifndef CONVERT_IMPORT_TARGET_LOG_RULES_H_
#define CONVERT_IMPORT_TARGET_LOG_RULES_H_

#include <cstdint>
#include <string_view>

#include "base/file_journal.h"
#include "base/undo_log.h"

// True when `record` names a file the conversion writes (relative to the
// target: the fixed files, "d/t/" and an identifier's decimal text, "d/h/" and
// a key the program gives a history file, then ".his"), in the way it puts that
// file back: a cut or a removal for an appended file, the old text for the
// counter (the only file whose link is followed), the old bytes and mode, or
// a removal, for a statistics or history file. Modes never go past 0777.
bool isOwnUndoRecord(const UndoRecord& record);

// True when the target index in `file`, past `record.size` bytes, holds at
// most `maxRecords` records (and what completed a partial one), each with the
// fixed fields of a record the conversion writes. True for a file other than
// the index.
bool isOwnAppendedTail(const UndoRecord& record, FileReader* file,
                       uint64_t maxRecords);

// The rules above, for groups of at most `maxGroupTrades` trades.
RecoveryRules targetRecoveryRules(uint64_t maxGroupTrades);

#endif  // CONVERT_IMPORT_TARGET_LOG_RULES_H_

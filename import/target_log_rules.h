// What recovery accepts of the records of a rollback log it finds in a
// target: only those this program writes there. A log that another user or
// program made up could otherwise name any file, mode or size.
#ifndef CONVERT_IMPORT_TARGET_LOG_RULES_H_
#define CONVERT_IMPORT_TARGET_LOG_RULES_H_

#include "journal/undo_log.h"

// True when `record` names a file the conversion writes (relative to the
// target: the fixed files, "d/t/" and an identifier's decimal text, "d/h/" and
// a key the program gives a history file, then ".his"), in the way it puts that
// file back: a cut or a removal for an appended file, the old text for the
// counter (the only file whose link is followed), the old bytes and mode, or
// a removal, for a statistics or history file.
bool isOwnUndoRecord(const UndoRecord& record);

#endif  // CONVERT_IMPORT_TARGET_LOG_RULES_H_

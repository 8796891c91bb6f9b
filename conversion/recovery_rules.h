// What recovery may cut off the files that a group of this conversion appends
// to: only the group's own records and lines. Anything else past a size the
// log recorded (a record or line of the live site, written while the run was
// cut off) makes recovery refuse, and nothing is changed.
#ifndef CONVERT_CONVERSION_RECOVERY_RULES_H_
#define CONVERT_CONVERSION_RECOVERY_RULES_H_

#include <cstdint>
#include <string_view>

#include "journal/file_journal.h"

// The rules for a log in a target that the source index `sourceIndex` (which
// must outlive them) is converted into, by groups of at most
// `maxGroupTrades` trades. A record past the index's logged size is the
// group's when its identifier is the next one the counter issues from the
// logged value (as nextTradeId numbers them, past the identifiers the index
// held before it) and its key is a key of the source, with the fixed fields
// the conversion writes; a record of zero bytes, or one cut short at the end,
// is a torn append of the group's. A line past the logged size of the caps,
// summary or toplist file is the group's when it is a line the conversion
// writes there for one of those identifiers or for a key of the source (a
// line cut short at the end, and zero bytes, being torn appends).
RecoveryRules conversionRecoveryRules(std::string_view sourceIndex,
                                      uint64_t maxGroupTrades);

#endif  // CONVERT_CONVERSION_RECOVERY_RULES_H_

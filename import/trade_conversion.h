// Building the target record of an imported trade and appending it to the
// target index.
#ifndef CONVERT_IMPORT_TRADE_CONVERSION_H_
#define CONVERT_IMPORT_TRADE_CONVERSION_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "base/file_journal.h"
#include "import/source_index.h"
#include "import/target_trade.h"

// The added-by note: "added by " + address + " on " + the date as "%d %b, %Y".
std::string addedByNote(std::string_view remoteAddress,
                        const std::tm& localTime);

// Builds the record of `trade` with identifier `id`, its note dated
// `localTime`.
TargetTrade buildTargetTrade(const SourceTrade& trade, int32_t id,
                             std::string_view remoteAddress,
                             const std::tm& localTime);

// buildTargetTrade dated now, in local time. Opens no file.
TargetTrade convertTrade(const SourceTrade& trade, int32_t id,
                         std::string_view remoteAddress);

// Appends the record's 996 bytes to the target's trade index through
// `journal`. On failure fills `error` and returns false; a partly written
// record has been cut off again.
bool appendTargetTrade(const std::string& targetPath, const TargetTrade& record,
                       FileJournal* journal, FileError* error);

#endif  // CONVERT_IMPORT_TRADE_CONVERSION_H_

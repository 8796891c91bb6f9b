// Building the target record of an imported trade.
#ifndef CONVERT_IMPORT_TRADE_CONVERSION_H_
#define CONVERT_IMPORT_TRADE_CONVERSION_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

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

#endif  // CONVERT_IMPORT_TRADE_CONVERSION_H_

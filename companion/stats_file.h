// The statistics file of a trade: 1,440 zeroed slots, named by its identifier.
#ifndef CONVERT_COMPANION_STATS_FILE_H_
#define CONVERT_COMPANION_STATS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/file_journal.h"

// One slot of the statistics file: fourteen 32-bit integers, all created as
// zero.
struct TradeStatsSlot {
  int32_t values[14];
};
static_assert(sizeof(TradeStatsSlot) == 56, "slots are 56 bytes on disk");

constexpr std::size_t kStatsSlotCount = 1440;
// 80,640 bytes.
constexpr std::size_t kStatsFileSize = kStatsSlotCount * sizeof(TradeStatsSlot);

// Creates the statistics file of identifier `idText` as 1,440 zeroed slots
// with mode 0777 through `journal`, replacing any file of that name (the
// journal keeps its bytes and mode). On failure fills `error`, false.
bool createStatsFile(const std::string& targetPath, const std::string& idText,
                     FileJournal* journal, FileError* error);

#endif  // CONVERT_COMPANION_STATS_FILE_H_

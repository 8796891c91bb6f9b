// The per-trade statistics file, the summary file and the history file of the
// target.
#ifndef CONVERT_COMPANION_STATS_FILES_H_
#define CONVERT_COMPANION_STATS_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_journal.h"

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

// "|id" followed by 42 times "|0", a closing '|' and a line feed.
std::string summaryLine(int32_t id);

// Appends the trade's summary line to the target's summary file through
// `journal`, creating it. On failure fills `error` and returns false.
bool appendSummaryLine(const std::string& targetPath, int32_t id,
                       FileJournal* journal, FileError* error);

// True when the key names a history file inside the history folder: it holds
// no '/'.
bool isHistoryFileKey(std::string_view key);

// Creates or empties the history file of `key` (not through a symbolic link)
// with mode 0777, through `journal`, which keeps the bytes of a file it
// empties. A file that cannot be made is passed over; false, with `error`
// filled, only when the log that keeps what it replaces failed.
bool createHistoryFile(const std::string& targetPath, const std::string& key,
                       FileJournal* journal, FileError* error);

#endif  // CONVERT_COMPANION_STATS_FILES_H_

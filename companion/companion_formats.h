// What each companion file of a target holds for a trade: the toplist, caps
// and summary lines, and the statistics file's size. The import writes them,
// and the check, recovery and verify read them back, all from here.
#ifndef CONVERT_COMPANION_COMPANION_FORMATS_H_
#define CONVERT_COMPANION_COMPANION_FORMATS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "import/source_index.h"

// Tracks the break index of a text fed in chunks: the number of the first
// '|'-separated piece, numbered from -1, that holds a line feed. A line feed in
// piece -1 is passed over, since -1 also means "none found yet".
class BreakIndexScanner {
 public:
  // Feeds the next bytes. Returns true once the break index is decided.
  bool feed(std::string_view bytes);
  int64_t breakIndex() const { return breakIndex_; }

 private:
  int64_t pieceNumber_ = -1;
  int64_t breakIndex_ = -1;
};

// The toplist line of a trade: key, field17, field18, field19, then
// (breakIndex - 4) empty values.
std::string toplistLine(const SourceTrade& trade, int64_t breakIndex);

// "|id|1|field13|\n|id|2|field14|\n|id|3|field15|\n".
std::string capsLines(int32_t id, const SourceTrade& trade);

// "|id" followed by 42 times "|0", a closing '|' and a line feed.
std::string summaryLine(int32_t id);

// The identifier a summary or caps line begins with ("|12|..."), written as
// the program writes numbers (no leading zero, no plus sign), and in `rest`
// what follows its bar. False for any other line.
bool readLineId(std::string_view line, int32_t* id, std::string_view* rest);

// The key a toplist line begins with ("|key|..."); false for a line that
// does not begin so (or ends within its key).
bool readToplistKey(std::string_view line, std::string_view* key);

// One slot of the statistics file: fourteen 32-bit integers, all created as
// zero.
struct TradeStatsSlot {
  int32_t values[14];
};
static_assert(sizeof(TradeStatsSlot) == 56, "slots are 56 bytes on disk");

constexpr std::size_t kStatsSlotCount = 1440;
// 80,640 bytes.
constexpr std::size_t kStatsFileSize = kStatsSlotCount * sizeof(TradeStatsSlot);

#endif  // CONVERT_COMPANION_COMPANION_FORMATS_H_

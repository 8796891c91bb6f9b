// The target's toplist file: one '|'-framed line per trade.
#ifndef CONVERT_COMPANION_TOPLIST_FILE_H_
#define CONVERT_COMPANION_TOPLIST_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "import/source_index.h"
#include "journal/file_journal.h"

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

// The line of a trade: key, field17, field18, field19, then (breakIndex - 4)
// empty values.
std::string toplistLine(const SourceTrade& trade, int64_t breakIndex);

// Measures the break index of the target's toplist, reading only as far as
// needed, then appends the trade's line through `journal`. On failure (the file
// will not open or read, or the append fails) fills `error` and returns false.
bool appendToplistLine(const std::string& targetPath, const SourceTrade& trade,
                       FileJournal* journal, FileError* error);

#endif  // CONVERT_COMPANION_TOPLIST_FILE_H_

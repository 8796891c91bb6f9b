// The target's identifier counter file and the numbering of imported
// trades.
#ifndef CONVERT_IMPORT_TRADE_ID_COUNTER_H_
#define CONVERT_IMPORT_TRADE_ID_COUNTER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "import/target_trade.h"
#include "journal/file_journal.h"

// The identifiers of the records loaded at the start of the run.
struct LoadedTradeIds {
  std::vector<int32_t> inFileOrder;
  std::vector<int32_t> sorted;
};

LoadedTradeIds collectTradeIds(const std::vector<TargetTrade>& records);

// Works out the next identifier from a counter value: counter + 1, raised by
// one for every loaded id at or above the candidate (one pass in file order),
// then raised further to the smallest value that no loaded record holds. False
// when that would pass INT32_MAX.
bool nextFreeId(int32_t counter, const LoadedTradeIds& loaded, int32_t* id);

// The counter as the file's text gives it: a number within the signed 32-bit
// range after white space, otherwise 10.
int32_t parseCounter(const std::string& text);

// What nextTradeId found: ok, the counter file that failed (`where`), or no
// identifier left to issue (`noFreeId`, with the counter's path in `where`).
struct [[nodiscard]] TradeIdError {
  TradeIdError() = default;
  TradeIdError(FileError failed) : where(std::move(failed)) {}  // NOLINT
  static TradeIdError noFreeIdIn(std::string counter) {
    TradeIdError exhausted;
    exhausted.noFreeId = true;
    exhausted.where.path = std::move(counter);
    return exhausted;
  }
  bool ok() const { return !noFreeId && where.ok(); }

  bool noFreeId = false;
  FileError where;
};

// Reads the target's counter, works out the next identifier and writes it back
// in place through `journal`, which keeps the old text to put back. On failure
// the result says why: the counter file would not open for reading and writing
// or would not read, its write failed, or no identifier is left, in which
// case the file is not touched.
TradeIdError nextTradeId(const std::string& targetPath,
                         const LoadedTradeIds& loaded, FileJournal* journal,
                         int32_t* id);

#endif  // CONVERT_IMPORT_TRADE_ID_COUNTER_H_

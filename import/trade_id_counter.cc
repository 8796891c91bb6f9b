#include "import/trade_id_counter.h"

#include <algorithm>

#include "base/file_io.h"
#include "base/numbers.h"
#include "import/installation_paths.h"

namespace {
constexpr int32_t kDefaultCounter = 10;
}  // namespace

LoadedTradeIds collectTradeIds(const std::vector<TargetTrade>& records) {
  LoadedTradeIds ids;
  ids.inFileOrder.reserve(records.size());
  for (const TargetTrade& record : records)
    ids.inFileOrder.push_back(readInt32(record, kIdField));
  ids.sorted = ids.inFileOrder;
  std::sort(ids.sorted.begin(), ids.sorted.end());
  return ids;
}

bool nextFreeId(int32_t counter, const LoadedTradeIds& loaded, int32_t* id) {
  // 64 bits: the candidate may step past INT32_MAX, and that must be seen, not
  // wrap.
  int64_t candidate = int64_t{counter} + 1;
  // Once the counter has passed every loaded id the walk raises nothing: skip
  // it, so that a long import does not cost imports x records.
  if (!loaded.sorted.empty() && loaded.sorted.back() >= candidate) {
    for (const int32_t loadedId : loaded.inFileOrder) {
      if (loadedId >= candidate) ++candidate;
    }
  }
  // One pass can end on an id that an out-of-order record holds; that trade's
  // statistics file would be replaced. Move on to the first value no loaded
  // record holds.
  auto it =
      std::lower_bound(loaded.sorted.begin(), loaded.sorted.end(), candidate);
  while (it != loaded.sorted.end() && *it <= candidate) {
    if (*it == candidate) ++candidate;
    ++it;
  }
  if (candidate > INT32_MAX) return false;
  *id = static_cast<int32_t>(candidate);
  return true;
}

int32_t parseCounter(const std::string& text) {
  int32_t counter = kDefaultCounter;
  if (!readInt32Strict(text, &counter)) counter = kDefaultCounter;
  return counter;
}

TradeIdError nextTradeId(const std::string& targetPath,
                         const LoadedTradeIds& loaded, FileJournal* journal,
                         int32_t* id) {
  const std::string path = counterPath(targetPath);
  // Read and rewritten through one descriptor: a counter that cannot be
  // written fails at the open, as it would at a second one.
  RewritableFile counter(journal->folders(), path);
  std::string oldText;
  const FileError read = counter.readAll(&oldText);
  if (!read.ok()) return read;
  int32_t candidate = 0;
  if (!nextFreeId(parseCounter(oldText), loaded, &candidate))
    return TradeIdError::noFreeIdIn(path);
  // On a failed write the journal puts the old value back: an emptied counter
  // would restart the numbering at 11.
  const FileError written =
      journal->rewrite(&counter, toDecimalText(candidate), std::move(oldText));
  if (written.ok()) *id = candidate;
  return written;
}

#include "companion/companion_files.h"

#include "base/numbers.h"
#include "companion/caps_file.h"
#include "companion/history_file.h"
#include "companion/stats_file.h"
#include "companion/summary_file.h"
#include "companion/toplist_file.h"

bool writeCompanionFiles(const std::string& targetPath,
                         const SourceTrade& trade, int32_t id,
                         FileJournal* journal, FileError* error) {
  if (!appendToplistLine(targetPath, trade, journal, error)) return false;
  if (!appendCapsLines(targetPath, id, trade, journal, error)) return false;
  if (!createStatsFile(targetPath, toDecimalText(id), journal, error))
    return false;
  if (!appendSummaryLine(targetPath, id, journal, error)) return false;
  // A key with '/' would name a file outside the history folder: such a trade
  // gets no history file. The history file gets its mode as it is created.
  if (isHistoryFileKey(trade.field2) &&
      !createHistoryFile(targetPath, trade.field2, journal, error))
    return false;
  return true;
}

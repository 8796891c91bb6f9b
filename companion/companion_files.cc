#include "companion/companion_files.h"

#include "base/numbers.h"
#include "cgi/page.h"
#include "companion/caps_file.h"
#include "companion/stats_files.h"
#include "companion/toplist_file.h"

bool writeCompanionFiles(std::ostream& page, const std::string& targetPath,
                         const SourceTrade& trade, int32_t id,
                         FileJournal* journal) {
  if (!appendToplistLine(page, targetPath, trade, journal)) return false;
  if (!appendCapsLines(page, targetPath, id, trade, journal)) return false;
  if (!createStatsFile(page, targetPath, toDecimalText(id), journal))
    return false;
  if (!appendSummaryLine(page, targetPath, id, journal)) return false;
  // A key with '/' would name a file outside the history folder: such a trade
  // gets no history file. The history file gets its mode as it is created.
  if (isHistoryFileKey(trade.field2) &&
      !createHistoryFile(page, targetPath, trade.field2, journal))
    return false;
  writeAddedLine(page, trade.field2);
  return true;
}

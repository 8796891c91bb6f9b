// The conversion that both programs run: it checks the target's folders,
// takes the target's lock, puts back a group that a cut-off run left, loads
// both indexes, and imports every trade that the target lacks, in groups made
// durable at once.
#ifndef CONVERT_CONVERSION_CONVERSION_H_
#define CONVERT_CONVERSION_CONVERSION_H_

#include <string>

#include "conversion/conversion_report.h"
#include "import/source_index.h"
#include "import/target_index.h"

// How a conversion ended.
enum class RunEnd {
  finished,  // every trade was looked at
  failed,    // a step failed: the report was told what and where
  stopped,   // a stop signal ended it between two trades
};

// Converts the installations at `source` and `target` (each typed with its
// trailing "/"), giving every imported record a note with `remoteAddress`,
// and tells `report` what happens.
RunEnd convertInstallations(const std::string& source,
                            const std::string& target,
                            const std::string& remoteAddress,
                            ConversionReport* report);

// How a run ends whose source or target folder names no file: one of
// PATH_MAX bytes or more, whose paths are never formed (the value may be
// hundreds of megabytes), or a target that holds a zero byte. It fails, at
// `stage`, at the first file convertInstallations would open, and the
// failure's path is that file's name within the folder that names no file
// when `inUnnamedFolder`.
struct UnnamedFolderEnd {
  RunFailure failure;
  RunStage stage = RunStage::readingIndex;
  bool inUnnamedFolder = false;
};
// `source` is left empty when it is the folder that names no file.
UnnamedFolderEnd endOfUnnamedFolder(const std::string& source,
                                    bool sourceNamesNoFile,
                                    bool targetHoldsZeroByte);

// What the conversion does with a source trade.
enum class TradeFate {
  alreadyInTarget,  // the target holds its key
  belowThreshold,   // its first field is not a number above 10
  unstorableKey,    // the target record cannot hold its key whole
  import,
};
TradeFate fateOf(const SourceTrade& trade, const KnownTradeKeys& known);
// The same where it is known whether the target holds the trade's key.
TradeFate fateOf(const SourceTrade& trade, bool isKnown);

// The most trades in one group.
extern const int kGroupTrades;

#endif  // CONVERT_CONVERSION_CONVERSION_H_

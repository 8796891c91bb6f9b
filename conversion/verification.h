// Whether a target is whole, and with its source whether the conversion is
// complete, worked out by reading and changing nothing: the records of the
// index and the counter, every record's companion files and lines, the
// lines and files that belong to no record, and a rollback log.
#ifndef CONVERT_CONVERSION_VERIFICATION_H_
#define CONVERT_CONVERSION_VERIFICATION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/run_failure.h"

// The kinds of problem, in the order they are reported.
enum class Flaw {
  partialRecord,       // the index ends part way into a record
  duplicateId,         // two records hold one identifier
  idAboveCounter,      // a record's identifier is above the counter
  counterBehind,       // the counter is below the last identifier
  missingStatistics,   // d/t/ + identifier is missing
  oddStatistics,       // not a regular file, or not 80,640 bytes
  missingSummaryLine,  // in d/t/sum
  missingCapsLine,     // each of the three in d/caps
  missingToplistLine,  // in d/tl.a1, by key
  missingHistoryFile,  // d/h/ + key + .his, where a key allows one
  strayCapsLine,       // a line of d/caps for no record's identifier
  straySummaryLine,    // of d/t/sum
  strayToplistLine,    // of d/tl.a1 for no record's key (the first aside)
  strayStatistics,     // a statistics file of no record
  strayHistoryFile,    // a history file of no record
  rollbackLog,         // a cut-off run's log
  notImported,         // a source trade the import would still import
  differs,             // a held trade whose record is not its conversion
};
constexpr int kFlawKinds = static_cast<int>(Flaw::differs) + 1;

// "missing statistics files" and the like; "missingStatistics" for JSON.
const char* flawName(Flaw flaw);
const char* flawKey(Flaw flaw);

// The most lines of each kind kept, unless all are asked for.
constexpr std::size_t kExampleLines = 20;

struct Verification {
  bool keepAll = false;  // every problem's line, not only the first ones
  uint64_t records = 0;
  bool withSource = false;
  bool running = false;  // a conversion holds the target now
  // Each kind's count of problems, and their lines in the order met: the
  // first kExampleLines, or all with `keepAll`.
  uint64_t counts[kFlawKinds] = {};
  std::vector<std::string> found[kFlawKinds];
  // Records (by position in the index) with at least one problem.
  uint64_t flawedRecords = 0;

  uint64_t problemCount() const;
};

// Verifies the target at `target` (typed with its "/"), and with a non-empty
// `source` the conversion from it, keeping lines as `verification->keepAll`
// says. ok, or what could not be read.
RunFailure verifyTarget(const std::string& target, const std::string& source,
                        Verification* verification);

#endif  // CONVERT_CONVERSION_VERIFICATION_H_

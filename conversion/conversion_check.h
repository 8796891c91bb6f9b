// What an import would do, worked out without changing anything: no lock held
// longer than a test of whether a conversion is running, no log, no recovery.
#ifndef CONVERT_CONVERSION_CONVERSION_CHECK_H_
#define CONVERT_CONVERSION_CONVERSION_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/run_failure.h"

// A file the import would write or create that this user could not.
struct CheckProblem {
  std::string path;
  std::string why;  // owner, mode, missing folder, an odd file at the path
  bool stopsImport = false;  // false: the import goes on without it
};

struct ConversionCheck {
  uint64_t sourceTrades = 0;
  uint64_t toImport = 0;
  uint64_t alreadyInTarget = 0;  // already in the target
  uint64_t belowThreshold = 0;   // first field not a number above 10
  uint64_t unstorableKeys = 0;   // a key the record cannot hold
  int32_t firstId = 0;           // of the trades to import, when any
  int32_t lastId = 0;
  // The bytes the import would add to the target's file system.
  uint64_t statisticsBytes = 0;
  uint64_t recordBytes = 0;
  uint64_t lineBytes = 0;  // toplist, caps and summary lines
  // The space those take on the file system, in its blocks (each file's
  // growth rounded up to whole blocks, and 32 bytes for each name a folder
  // gains); more than is free is where the import would stop.
  uint64_t spaceNeeded = 0;
  bool noSpace = false;  // more than is free: the import would stop
  bool freeSpaceKnown = false;
  uint64_t freeBytes = 0;
  bool logPresent = false;  // a rollback log
  RunFailure logVerdict;    // ok when the import would accept it
  // Trades that the import first puts back, as the log left by a cut-off run
  // says; the figures above are those after that.
  uint64_t toPutBack = 0;
  bool running = false;  // a conversion holds the target now
  std::vector<CheckProblem> problems;
  // Where the import would stop, and why; ok when it would run through. At a
  // file the import changes, the detail says why in plain words, as its
  // problem does.
  RunFailure stop;
};

// Fills `check` for an import from `source` into `target` (each typed with
// its trailing "/").
void checkConversion(const std::string& source, const std::string& target,
                     ConversionCheck* check);

#endif  // CONVERT_CONVERSION_CONVERSION_CHECK_H_

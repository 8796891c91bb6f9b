// What importing sampleTrade() writes into the target installation.
#ifndef CONVERT_TESTING_EXPECTED_IMPORT_H_
#define CONVERT_TESTING_EXPECTED_IMPORT_H_

#include <cstdint>
#include <string>

#include "testing/file_tree.h"

// "added by <address> on <today's date>", as the program dates its notes under
// the runner's TZ=UTC.
std::string addedByNoteToday(const std::string& address);

// The record the program writes for sampleTrade(number, key) as `id`.
std::string sampleTradeRecord(int32_t id, const std::string& key,
                              const std::string& note);

// The lines the program appends for sampleTrade(number, key) as `id`; the
// toplist line fits a toplist whose first line holds six values. The summary
// line is any trade's.
std::string sampleToplistLine(const std::string& key);
std::string sampleCapsLines(int32_t id);
std::string sampleSummaryLine(int32_t id);

// The steps of one imported trade, in the order the program takes them.
enum class ImportStep {
  counter,
  index,
  toplist,
  caps,
  stats,
  summary,
  history,
  done
};

// Applies to `tree` what importing sampleTrade(number, key) as `id` writes
// into the target installation at `target` (relative to the tree's root, with
// its trailing "/"): every step before `failedStep`, which wrote nothing. An
// appended file that is not a regular file is left alone.
void applyImport(FileTree* tree, const std::string& target, int32_t id,
                 const std::string& key, ImportStep failedStep);
// The same for the steps from `firstStep` on, for a trade whose earlier steps
// are already in `tree`.
void applyImportSteps(FileTree* tree, const std::string& target, int32_t id,
                      const std::string& key, ImportStep firstStep,
                      ImportStep failedStep);

#endif  // CONVERT_TESTING_EXPECTED_IMPORT_H_

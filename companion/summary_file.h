// The target's summary file: one line of 42 zero counters per trade.
#ifndef CONVERT_COMPANION_SUMMARY_FILE_H_
#define CONVERT_COMPANION_SUMMARY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/file_journal.h"

// "|id" followed by 42 times "|0", a closing '|' and a line feed.
std::string summaryLine(int32_t id);

// Appends the trade's summary line to the target's summary file through
// `journal`, creating it. On failure fills `error` and returns false.
bool appendSummaryLine(const std::string& targetPath, int32_t id,
                       FileJournal* journal, FileError* error);

// The identifier a summary or caps line begins with ("|12|..."), written as
// the program writes numbers (no leading zero, no plus sign), and in `rest`
// what follows its bar. False for any other line.
bool readLineId(std::string_view line, int32_t* id, std::string_view* rest);

#endif  // CONVERT_COMPANION_SUMMARY_FILE_H_

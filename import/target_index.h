// The target installation's trade index (996-byte records end to end): reading
// it, the test for trades that the target already holds, and appending a
// record.
#ifndef CONVERT_IMPORT_TARGET_INDEX_H_
#define CONVERT_IMPORT_TARGET_INDEX_H_

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/file_io.h"
#include "import/source_index.h"
#include "import/target_trade.h"
#include "journal/file_journal.h"

// Reads the target's trade index whole into `records`, of any size. A short
// last record holds the bytes read and keeps its initial values after them.
// Fails when the file cannot be opened or read.
FileError readTargetIndex(const Folders& folders, const std::string& targetPath,
                          std::vector<TargetTrade>* records);

// The keys of the loaded records, for the duplicate test. Views into the
// records, which must outlive it and stay unchanged.
class KnownTradeKeys {
 public:
  explicit KnownTradeKeys(const std::vector<TargetTrade>& records);
  bool contains(std::string_view key) const { return keys_.count(key) != 0; }

 private:
  std::unordered_set<std::string_view> keys_;
};

// True when a loaded record has the trade's key (byte for byte,
// case-sensitive).
bool isKnownTrade(const SourceTrade& trade, const KnownTradeKeys& known);

// Appends the record's 996 bytes to the target's trade index through
// `journal`. On failure a partly written record has been cut off again.
FileError appendTargetTrade(const std::string& targetPath,
                            const TargetTrade& record, FileJournal* journal);

#endif  // CONVERT_IMPORT_TARGET_INDEX_H_

#include "conversion/verification.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "base/file_io.h"
#include "base/folder_access.h"
#include "base/numbers.h"
#include "companion/companion_formats.h"
#include "conversion/conversion.h"
#include "conversion/installation_folders.h"
#include "conversion/recovery_rules.h"
#include "import/installation_paths.h"
#include "import/source_index.h"
#include "import/target_index.h"
#include "import/target_log_rules.h"
#include "import/trade_conversion.h"
#include "import/trade_id_counter.h"
#include "journal/durable_file.h"
#include "journal/file_journal.h"

namespace {

constexpr std::string_view kHistoryEnd = ".his";

std::string quoted(std::string_view text) {
  std::string shown(text.substr(0, 60));
  if (text.size() > 60) shown += "...";
  return "\"" + shown + "\"";
}

// "record 3 (identifier 13, key "x")": a record as the lines name it.
std::string recordName(const std::vector<TargetTrade>& records,
                       std::size_t at) {
  return "record " + std::to_string(at + 1) + " (identifier " +
         toDecimalText(readInt32(records[at], kIdField)) + ", key " +
         quoted(readText(records[at], kKeyField)) + ")";
}

// Hands every line of the file (without its line feed) to `take`, with its
// number from 1; readFailed when the file cannot be read (a missing one holds
// no line).
template <typename Take>
FileError forEachLine(const Folders& folders, const std::string& path,
                      const Take& take) {
  FileReader file(folders, path);
  if (!file.isOpen()) return FileError();
  std::string pending;
  uint64_t number = 0;
  char buffer[1 << 16];
  for (;;) {
    const std::size_t n = file.read(buffer, sizeof buffer);
    pending.append(buffer, n);
    std::size_t start = 0;
    for (std::size_t end;
         (end = pending.find('\n', start)) != std::string::npos;
         start = end + 1)
      take(std::string_view(pending).substr(start, end - start), ++number);
    pending.erase(0, start);
    if (n < sizeof buffer) break;
  }
  if (file.hasFailed()) return FileError(FileResult::readFailed, path);
  if (!pending.empty()) take(pending, ++number);
  return FileError();
}

class Verifier {
 public:
  Verifier(const Folders& folders, const std::string& target,
           Verification* result)
      : folders_(folders), target_(target), result_(result) {}

  FileError run(const std::string& sourceIndex, bool withSource) {
    FileError error = readTargetIndex(folders_, target_, &records_);
    if (!error.ok()) return error;
    result_->records = records_.size();
    flawed_.assign(records_.size(), false);
    checkIndexEnd();
    // Sorted lists rather than hash tables: memory holds little beside the
    // records themselves.
    byId_.reserve(records_.size());
    byKey_.reserve(records_.size());
    keyLengths_.reserve(records_.size());
    for (std::size_t at = 0; at < records_.size(); ++at) {
      byId_.emplace_back(readInt32(records_[at], kIdField),
                         static_cast<uint32_t>(at));
      byKey_.push_back(static_cast<uint32_t>(at));
      keyLengths_.push_back(
          static_cast<uint8_t>(readText(records_[at], kKeyField).size()));
    }
    std::sort(byId_.begin(), byId_.end());
    std::stable_sort(
        byKey_.begin(), byKey_.end(),
        [this](uint32_t a, uint32_t b) { return keyOf(a) < keyOf(b); });
    for (std::size_t i = 1; i < byId_.size(); ++i) {
      if (byId_[i].first != byId_[i - 1].first) continue;
      const auto& first = byId_[i - 1];
      const auto& again = byId_[i];
      note(Flaw::duplicateId, again.second, [&] {
        return "identifier " + toDecimalText(again.first) + ": records " +
               std::to_string(first.second + 1) + " and " +
               std::to_string(again.second + 1);
      });
    }
    for (FileError (Verifier::*check)() :
         {&Verifier::checkCounter, &Verifier::checkStatistics,
          &Verifier::checkSummary, &Verifier::checkCaps,
          &Verifier::checkToplist, &Verifier::checkHistory}) {
      error = (this->*check)();
      if (!error.ok()) return error;
    }
    checkLog(sourceIndex, withSource);
    if (withSource) checkSource(sourceIndex);
    result_->flawedRecords = static_cast<uint64_t>(std::count(
                                 flawed_.begin(), flawed_.end(), true)) +
                             partialRecords_;
    return FileError();
  }

 private:
  // Counts a problem of `record` (or of no record, past the last); its line
  // is made only when it is kept.
  template <typename Line>
  void note(Flaw flaw, std::size_t record, const Line& line) {
    const int kind = static_cast<int>(flaw);
    if (result_->keepAll || result_->counts[kind] < kExampleLines)
      result_->found[kind].push_back(line());
    ++result_->counts[kind];
    if (record < flawed_.size()) flawed_[record] = true;
  }

  // A line of a file that belongs to no record.
  void noteStrayLine(Flaw flaw, uint64_t number, std::string_view line) {
    note(flaw, records_.size(),
         [&] { return "line " + std::to_string(number) + " " + quoted(line); });
  }

  // The records whose line no file held.
  void noteUnseen(Flaw flaw, const std::vector<bool>& seen) {
    for (std::size_t at = 0; at < records_.size(); ++at)
      if (!seen[at]) note(flaw, at, [&] { return recordName(records_, at); });
  }

  std::string_view keyOf(uint32_t at) const {
    return std::string_view(
        reinterpret_cast<const char*>(records_[at].bytes) + kKeyField.offset,
        keyLengths_[at]);
  }

  // The record holding `id`, or -1.
  long recordOf(int32_t id) const {
    const auto found = std::lower_bound(byId_.begin(), byId_.end(),
                                        std::make_pair(id, uint32_t{0}));
    return found != byId_.end() && found->first == id
               ? static_cast<long>(found->second)
               : -1;
  }

  // The first record holding `key`, or -1.
  long recordOf(std::string_view key) const {
    const auto found =
        std::lower_bound(byKey_.begin(), byKey_.end(), key,
                         [this](uint32_t at, std::string_view wanted) {
                           return keyOf(at) < wanted;
                         });
    return found != byKey_.end() && keyOf(*found) == key
               ? static_cast<long>(*found)
               : -1;
  }

  // A record cut short is reported as such, and is no record to look for
  // files of.
  void checkIndexEnd() {
    PathFacts index;  // the records were read: a size not learnt is whole
    (void)inspectPath(folders_, targetIndexPath(target_), &index);
    const uint64_t partial = index.size % kTargetTradeSize;
    if (partial == 0 || records_.empty()) return;
    note(Flaw::partialRecord, records_.size(), [&] {
      return "the index ends " + std::to_string(partial) +
             " bytes into record " + std::to_string(records_.size()) +
             ", which starts at byte " + std::to_string(index.size - partial);
    });
    records_.pop_back();
    flawed_.pop_back();
    ++partialRecords_;
  }

  // A counter that is missing or does not open counts as 10, as it does for
  // the import.
  FileError checkCounter() {
    std::string text;
    const FileError read = readWholeFile(folders_, counterPath(target_), &text);
    if (read.result == FileResult::readFailed) return read;
    const int32_t counter = parseCounter(text);
    for (std::size_t at = 0; at < records_.size(); ++at) {
      const int32_t id = readInt32(records_[at], kIdField);
      if (id > counter)
        note(Flaw::idAboveCounter, at, [&] {
          return recordName(records_, at) + " is above the counter " +
                 toDecimalText(counter);
        });
    }
    if (!records_.empty()) {
      const int32_t last = readInt32(records_.back(), kIdField);
      if (counter < last)
        note(Flaw::counterBehind, records_.size() - 1, [&] {
          return "the counter " + toDecimalText(counter) +
                 " is below the last identifier " + toDecimalText(last);
        });
    }
    return FileError();
  }

  FileError checkStatistics() {
    std::vector<std::string> names;
    if (!listFolder(folders_, tradeFolderPath(target_), &names).ok())
      return FileError(FileResult::readFailed, tradeFolderPath(target_));
    std::vector<int32_t> present;
    for (const std::string& name : names) {
      int32_t id = 0;
      if (!readInt32Strict(name, &id) || toDecimalText(id) != name) continue;
      present.push_back(id);
      if (recordOf(id) < 0)
        note(Flaw::strayStatistics, records_.size(), [&] {
          return statsFilePath(target_, name) + " belongs to no record";
        });
    }
    names = std::vector<std::string>();
    std::sort(present.begin(), present.end());
    for (std::size_t at = 0; at < records_.size(); ++at) {
      const int32_t id = readInt32(records_[at], kIdField);
      const std::string path = statsFilePath(target_, toDecimalText(id));
      struct stat info = {};
      if (!std::binary_search(present.begin(), present.end(), id)) {
        note(Flaw::missingStatistics, at,
             [&] { return recordName(records_, at) + ": " + path; });
      } else if (statPath(folders_, path, &info, false) != 0 ||
                 !S_ISREG(info.st_mode) ||
                 static_cast<uint64_t>(info.st_size) != kStatsFileSize) {
        note(Flaw::oddStatistics, at, [&] {
          return recordName(records_, at) + ": " + path +
                 (S_ISREG(info.st_mode)
                      ? " holds " + std::to_string(info.st_size) + " bytes"
                      : " is not a regular file");
        });
      }
    }
    return FileError();
  }

  FileError checkSummary() {
    std::vector<bool> seen(records_.size(), false);
    const FileError read = forEachLine(
        folders_, summaryPath(target_),
        [&](std::string_view line, uint64_t number) {
          int32_t id = 0;
          std::string_view rest;
          const long at = readLineId(line, &id, &rest) ? recordOf(id) : -1;
          if (at < 0)
            noteStrayLine(Flaw::straySummaryLine, number, line);
          else
            seen[static_cast<std::size_t>(at)] = true;
        });
    if (!read.ok()) return read;
    noteUnseen(Flaw::missingSummaryLine, seen);
    return FileError();
  }

  FileError checkCaps() {
    std::vector<unsigned> seen(records_.size(), 0);  // a bit for each line
    const FileError read = forEachLine(
        folders_, capsPath(target_),
        [&](std::string_view line, uint64_t number) {
          int32_t id = 0;
          std::string_view rest;
          const long at = readLineId(line, &id, &rest) ? recordOf(id) : -1;
          if (at < 0 || rest.empty() || rest[0] < '1' || rest[0] > '3')
            noteStrayLine(Flaw::strayCapsLine, number, line);
          else
            seen[static_cast<std::size_t>(at)] |= 1u << (rest[0] - '1');
        });
    if (!read.ok()) return read;
    for (std::size_t at = 0; at < records_.size(); ++at)
      for (unsigned n = 0; n < 3; ++n)
        if ((seen[at] & (1u << n)) == 0)
          note(Flaw::missingCapsLine, at, [&] {
            return recordName(records_, at) + ": line " + std::to_string(n + 1);
          });
    return FileError();
  }

  FileError checkToplist() {
    std::vector<bool> seen(records_.size(), false);
    const FileError read = forEachLine(
        folders_, toplistPath(target_),
        [&](std::string_view line, uint64_t number) {
          std::string_view key;
          const long at = readToplistKey(line, &key) ? recordOf(key) : -1;
          if (at >= 0)
            seen[static_cast<std::size_t>(at)] = true;
          else if (number > 1)  // the first line sets the width only
            noteStrayLine(Flaw::strayToplistLine, number, line);
        });
    if (!read.ok()) return read;
    noteUnseen(Flaw::missingToplistLine, seen);
    return FileError();
  }

  FileError checkHistory() {
    std::vector<std::string> names;
    const std::string folder = historyFolderPath(target_);
    if (!listFolder(folders_, folder, &names).ok())
      return FileError(FileResult::readFailed, folder);
    // The names become the keys they give, sorted, in place.
    std::size_t keys = 0;
    for (std::string& name : names) {
      if (name.size() <= kHistoryEnd.size() ||
          name.compare(name.size() - kHistoryEnd.size(), kHistoryEnd.size(),
                       kHistoryEnd) != 0)
        continue;
      name.resize(name.size() - kHistoryEnd.size());
      if (recordOf(std::string_view(name)) < 0)
        note(Flaw::strayHistoryFile, records_.size(), [&] {
          return historyFilePath(target_, name) + " belongs to no record";
        });
      if (&names[keys] != &name) names[keys] = std::move(name);
      ++keys;
    }
    names.resize(keys);
    std::sort(names.begin(), names.end());
    for (std::size_t at = 0; at < records_.size(); ++at) {
      const std::string key(readText(records_[at], kKeyField));
      if (isHistoryFileKey(key) &&
          !std::binary_search(names.begin(), names.end(), key))
        note(Flaw::missingHistoryFile, at, [&] {
          return recordName(records_, at) + ": " +
                 historyFilePath(target_, key);
        });
    }
    return FileError();
  }

  void checkLog(const std::string& sourceIndex, bool withSource) {
    RecoveryRules rules;
    if (withSource) {
      rules = conversionRecoveryRules(sourceIndex, kGroupTrades);
    } else {
      rules.isOwnRecord = isOwnUndoRecord;  // its tails need the source
    }
    if (isLockHeld(folders_, lockPath(target_))) {
      result_->running = true;
      return;
    }
    bool present = false;
    const RunFailure verdict = failureOf(
        inspectLog(folders_, target_, journalPath(target_), rules, &present));
    if (!present) return;
    std::string line = journalPath(target_) + ": a run was cut off; ";
    if (verdict.ok())
      line += withSource ? "convert-trades import accepts it and puts its "
                           "group back"
                         : "convert-trades import puts its group back (give "
                           "the source to verify what it would cut off)";
    else
      line += "convert-trades import refuses it (" + verdict.path + ")";
    note(Flaw::rollbackLog, records_.size(), [&] { return line; });
  }

  void checkSource(const std::string& sourceIndex) {
    compared_.assign(records_.size(), false);
    // One date for every record made here: the note is left out anyway.
    const std::time_t now = std::time(nullptr);
    std::tm localTime{};
    localtime_r(&now, &localTime);
    SourceTradeReader reader(sourceIndex);
    SourceTrade trade;
    while (reader.next(&trade)) {
      const long held = recordOf(std::string_view(trade.key));
      const TradeFate fate = fateOf(trade, held >= 0);
      if (fate == TradeFate::import) {
        note(Flaw::notImported, records_.size(),
             [&] { return "key " + quoted(trade.key); });
        continue;
      }
      if (fate != TradeFate::alreadyInTarget) continue;
      const std::size_t at = static_cast<std::size_t>(held);
      // A key the source holds twice is its first trade's in the target.
      if (compared_[at]) continue;
      compared_[at] = true;
      const TargetTrade made = buildTargetTrade(
          trade, readInt32(records_[at], kIdField), "", localTime);
      // The identifier is the target's, the note and its date the run's.
      const std::size_t noteEnd = kNoteField.offset + kNoteField.width;
      if (std::memcmp(made.bytes, records_[at].bytes, kNoteField.offset) != 0 ||
          std::memcmp(made.bytes + noteEnd, records_[at].bytes + noteEnd,
                      kTargetTradeSize - noteEnd) != 0)
        note(Flaw::differs, at, [&] { return recordName(records_, at); });
    }
  }

  const Folders& folders_;
  const std::string& target_;
  Verification* result_;
  std::vector<TargetTrade> records_;
  std::vector<bool> flawed_;
  uint64_t partialRecords_ = 0;
  std::vector<bool> compared_;  // records a source trade was compared with
  // Record numbers (32 bits: memory holds little beside the records): by
  // identifier, and sorted by key.
  std::vector<std::pair<int32_t, uint32_t>> byId_;
  std::vector<uint32_t> byKey_;
  std::vector<uint8_t> keyLengths_;  // a key is at most 99 bytes
};

}  // namespace

const char* flawName(Flaw flaw) {
  static const char* const kNames[kFlawKinds] = {
      "index ending part way into a record",
      "identifiers held twice",
      "identifiers above the counter",
      "counter below the last identifier",
      "missing statistics files",
      "statistics files of the wrong kind or size",
      "missing summary lines",
      "missing caps lines",
      "missing toplist lines",
      "missing history files",
      "caps lines of no record",
      "summary lines of no record",
      "toplist lines of no record",
      "statistics files of no record",
      "history files of no record",
      "rollback log of a cut-off run",
      "source trades not imported yet",
      "records that differ from their source trade",
  };
  return kNames[static_cast<int>(flaw)];
}

const char* flawKey(Flaw flaw) {
  static const char* const kKeys[kFlawKinds] = {
      "partialRecord",      "duplicateId",       "idAboveCounter",
      "counterBehind",      "missingStatistics", "oddStatistics",
      "missingSummaryLine", "missingCapsLine",   "missingToplistLine",
      "missingHistoryFile", "strayCapsLine",     "straySummaryLine",
      "strayToplistLine",   "strayStatistics",   "strayHistoryFile",
      "rollbackLog",        "notImported",       "differs",
  };
  return kKeys[static_cast<int>(flaw)];
}

uint64_t Verification::problemCount() const {
  uint64_t count = 0;
  for (const uint64_t kind : counts) count += kind;
  return count;
}

RunFailure verifyTarget(const std::string& target, const std::string& source,
                        Verification* verification) {
  const bool keepAll = verification->keepAll;
  *verification = Verification();
  verification->keepAll = keepAll;
  verification->withSource = !source.empty();
  Folders folders(trustOfThisRun());
  std::string sourceIndex;
  FileError error;
  if (verification->withSource) {
    error = openSourceFolders(source, &folders);
    if (error.ok()) error = readSourceIndex(folders, source, &sourceIndex);
  }
  if (error.ok()) error = openTargetFolders(target, &folders);
  if (error.ok())
    error = Verifier(folders, target, verification)
                .run(sourceIndex, verification->withSource);
  return failureOf(error);
}

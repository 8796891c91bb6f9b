// Builders for source and target installations, byte by byte.
#ifndef CONVERT_TESTING_INSTALLATION_H_
#define CONVERT_TESTING_INSTALLATION_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testing/test_util.h"

// The 30 fields of one source line; fields[0] is field 1.
struct SourceFields {
  std::array<std::string, 30> fields;
  std::string& operator[](int fieldNumber) {
    return fields[static_cast<std::size_t>(fieldNumber - 1)];
  }
};

// A plausible trade: number `number`, key `key`, and distinct values in every
// field.
SourceFields sampleTrade(const std::string& number, const std::string& key);

// "|f1|f2|...|f30|\n".
std::string sourceLine(const SourceFields& trade);

// A 996-byte target record with `id` and `key`, everything else initial.
std::string targetRecordBytes(int32_t id, const std::string& key);

// A source and a target installation in one temporary directory:
// source = dir + "tn3/", target = dir + "kv2/". The target starts with an empty
// index, the counter "10", a toplist whose first line holds six values, and the
// d/h directory.
struct Installations {
  Installations();
  // The same with other directory names, each ending in "/".
  Installations(const std::string& sourceName, const std::string& targetName);
  TempDir dir;
  std::string source;
  std::string target;

  void writeSourceIndex(const std::vector<SourceFields>& trades) const;
  void writeTargetIndex(const std::vector<std::string>& records) const;
  std::string targetFile(const std::string& relative) const {
    return readFile(target + relative);
  }
};

// The url-encoded body of the form with the two directories typed in.
std::string formBody(const std::string& source, const std::string& target);

// "added by <address> on <today's date>", as the program dates its notes under
// the runner's TZ=UTC.
std::string addedByNoteToday(const std::string& address);

// The record the program writes for sampleTrade(number, key) as `id`.
std::string sampleTradeRecord(int32_t id, const std::string& key,
                              const std::string& note);

// The lines the program appends for sampleTrade(number, key) as `id`; the
// toplist line fits a toplist whose first line holds six values.
std::string sampleToplistLine(const std::string& key);
std::string sampleCapsLines(int32_t id);
std::string sampleSummaryLine(int32_t id);

// One entry of a directory tree as it lies on disk.
struct TreeEntry {
  char kind = 'f';    // 'f' file, 'd' directory, 'l' symlink, 'p' fifo
  int mode = 0644;    // permission bits; 0 for a symlink
  std::string bytes;  // a file's contents or a symlink's target
};

// Every entry below `root`, by path relative to it; symlinks are not followed.
using FileTree = std::map<std::string, TreeEntry>;
FileTree readTree(const std::string& root);

// One line per entry, small contents in full and large ones summarised, for
// comparisons that print readably.
std::vector<std::string> describeTree(const FileTree& tree);

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
// its trailing "/"): every step before `failedStep`, which wrote nothing. A
// toplist that is not a regular file (a gate) is left alone.
void applyImport(FileTree* tree, const std::string& target, int32_t id,
                 const std::string& key, ImportStep failedStep);
// The same for the steps from `firstStep` on, for a trade whose earlier steps
// are already in `tree`.
void applyImportSteps(FileTree* tree, const std::string& target, int32_t id,
                      const std::string& key, ImportStep firstStep,
                      ImportStep failedStep);

// Hands `path` and everything below it to user and group `uid`.
void giveToUser(const std::string& path, unsigned uid);

// Holds a run inside its first imported trade: the target's toplist becomes a
// FIFO, so the run waits at the toplist step (after its counter and index
// steps) until the test lets it go on. No later trade may reach the toplist.
class ToplistGate {
 public:
  explicit ToplistGate(const std::string& target);
  ~ToplistGate();
  ToplistGate(const ToplistGate&) = delete;
  ToplistGate& operator=(const ToplistGate&) = delete;

  // Waits until the run opens the toplist to measure it. False on timeout.
  bool waitForRun(std::chrono::milliseconds timeout);
  // Lets the run measure `firstLine`, then takes and returns the line it
  // appends ("<timeout>" when it does not come).
  std::string release(const std::string& firstLine,
                      std::chrono::milliseconds timeout);

 private:
  std::string path_;
  int writer_ = -1;
};

#endif  // CONVERT_TESTING_INSTALLATION_H_

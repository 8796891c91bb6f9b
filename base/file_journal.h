// The changes that units of work (imported trades) make to files, kept so that
// every file can be put back: the unit in hand when one of its steps fails,
// and a whole group of units when the run is cut off by a kill or a power cut.
#ifndef CONVERT_BASE_FILE_JOURNAL_H_
#define CONVERT_BASE_FILE_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/undo_log.h"

// Every change goes through the journal, to a file whose path starts with
// `root`. Units are gathered into groups. Before the first change of a group
// the journal writes to its log on disk (`logPath`) what puts every file back
// as it was before the group: the size of each file in `appendedPaths`, or
// that it was not there, and the old bytes of a file rewritten; later in the
// group, the old bytes of a file that a create replaces, before it is replaced.
// The log is made durable before the change it covers. At the end of a group
// every change is made durable, and only then does the log stop covering it.
//
// When the log cannot be created, written or made durable, the journal goes on
// without it, with the undo in memory only. The journal assumes that nothing
// else writes these files while it is in use.
class FileJournal {
 public:
  // Without a log path the journal keeps its undo in memory only.
  explicit FileJournal(std::string root = std::string(),
                       std::string logPath = std::string(),
                       const std::vector<std::string>& appendedPaths = {});
  ~FileJournal();
  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  // Appends as appendBlock does (an empty filler adds nothing).
  FileResult append(const std::string& path, std::string_view block,
                    std::string_view filler = std::string_view());

  // Appends `block` to the open file at `path` and closes it, as
  // AppendableFile::appendAndClose does.
  FileResult append(AppendableFile* file, const std::string& path,
                    std::string_view block);

  // Rewrites the open file at `path` in place with `newContents` and closes
  // it, as RewritableFile::rewriteAndClose does; `oldContents` is what it
  // held, to be put back.
  FileResult rewrite(RewritableFile* file, const std::string& path,
                     std::string_view newContents, std::string oldContents);

  // Creates the file as `size` zero bytes, mode 0777, as createZeroFile does.
  FileResult createZeroFile(const std::string& path, std::size_t size);

  // Creates the file empty, mode 0777, as createEmptyFileMode0777 does.
  bool createEmptyFile(const std::string& path);

  // The unit is whole: its changes stay.
  void commit() { changes_.clear(); }

  // Puts every file changed by the unit in hand back, newest change first;
  // the group's earlier units are made durable and kept. False when the undo
  // could not finish: the log on disk then covers the unit, so that the next
  // run finishes it. Either way the log ends with the run.
  bool rollback();

  // Makes every change of the open group durable and ends the group.
  void endGroup();

  // Ends the last group and removes the log.
  void finish();

 private:
  struct Change {
    UndoRecord undo;
    std::string path;  // the path as formed, for the undo in memory
  };

  std::string nameOf(const std::string& path) const;
  // Before a change to `path`: starts a group when none is open, and makes
  // sure the log covers the file; `undo` is what puts it back, when known
  // before the change (null: work it out from the file as it is, for an
  // append).
  void coverBeforeChange(const std::string& path, const UndoRecord* undo);
  // Before a create, which the log leaves out: only starts a group.
  void startGroupIfNone();
  // What a create is about to replace, kept in the log before it is changed.
  void keepInLog(const std::string& name, const ReplacedFile& old);
  // The undo in memory of an append to a file of `sizeBefore` bytes.
  void noteAppend(const std::string& path, uint64_t sizeBefore, bool created);
  bool startGroup(const UndoRecord* first);
  bool appendToLog(const UndoRecord& record);
  // Leaves the log as it is, or removes it, and goes on without one.
  void stopLogging(bool removeLog);
  bool undoInMemory();

  std::string root_;
  std::string logPath_;
  std::vector<std::string> appendedNames_;
  std::vector<Change> changes_;

  bool logging_ = true;
  bool groupOpen_ = false;
  DurableFile log_;
  UndoLogEncoder encoder_;
  uint64_t logSize_ = 0;
  uint64_t groups_ = 0;
  std::set<std::string> covered_;  // names the open group's log covers
};

// Puts back every file below `root` that the log at `logPath` records, newest
// record first, makes that durable and removes the log. A log that never became
// complete is only removed. On failure the log stays and `failedPath` names
// the file that could not be put back (or the log itself).
FileResult recoverFromLog(const std::string& root, const std::string& logPath,
                          std::string* failedPath);

#endif  // CONVERT_BASE_FILE_JOURNAL_H_

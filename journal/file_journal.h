// The changes that units of work (imported trades) make to files, kept so that
// every file can be put back: the unit in hand when one of its steps fails,
// and a whole group of units when the run is cut off by a kill or a power cut.
#ifndef CONVERT_JOURNAL_FILE_JOURNAL_H_
#define CONVERT_JOURNAL_FILE_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "journal/durable_file.h"
#include "journal/journal_error.h"
#include "journal/undo_log.h"

// Every change goes through the journal, to a file whose path starts with
// `root`. Units are gathered into groups. Before the first change of a group
// the journal writes to its log on disk (`logPath`) what puts every file back
// as it was before the group: the size of each file in `appendedPaths`, or
// that it was not there, and the old bytes of a file rewritten; later in the
// group, the old bytes of a file that a create replaces, before it is replaced.
// The log is made durable before the change it covers. At the end of a group
// every file system the group changed is made durable, and only then is the
// log cut back to nothing, durably, so that its records are never read with
// a later group's.
//
// The log is created, readable by its owner alone, at the run's first change.
// When the folder does not let this user create it, the journal goes on
// without it, with the undo in memory only. Any other failure of the log, once
// it is to be written, is the failure of the change it was to cover: that
// change is not made, and the change's result names the log. The journal
// assumes that nothing else writes these files while it is in use.
class FileJournal {
 public:
  // Every file is reached through `folders`, which must outlive the journal.
  // Without a log path the journal keeps its undo in memory only.
  explicit FileJournal(const Folders& folders, std::string root = std::string(),
                       std::string logPath = std::string(),
                       const std::vector<std::string>& appendedPaths = {});

  const Folders& folders() const { return folders_; }
  ~FileJournal();
  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  // Appends as appendBlock does (an empty filler adds nothing).
  FileError append(const std::string& path, std::string_view block,
                   std::string_view filler = std::string_view());

  // Appends `block` to the open file and closes it, as
  // AppendableFile::appendAndClose does.
  FileError append(AppendableFile* file, std::string_view block);

  // Rewrites the open file in place with `newContents` and closes it, as
  // RewritableFile::rewriteAndClose does; `oldContents` is what it held, to
  // be put back.
  FileError rewrite(RewritableFile* file, std::string_view newContents,
                    std::string oldContents);

  // Creates the file as `size` zero bytes, mode 0777, as createFileMode0777
  // does.
  FileError createFile(const std::string& path, std::size_t size);

  // True once the log has failed: the run must end.
  bool hasLogFailed() const { return state_ == LogState::failed; }

  // The unit is whole: its changes stay.
  void commit() { changes_.clear(); }

  // Puts every file changed by the unit in hand back, newest change first;
  // the group's earlier units are made durable and kept when that is
  // possible, and otherwise stay covered by the log, which then stays for the
  // next run. Names the first file that could not be put back when the undo
  // could not finish: the log on disk then covers what is left, so that the
  // next run finishes it.
  FileError rollback();

  // Makes every change of the open group durable and ends the group. When
  // that fails the result names the log, which stays and covers the group.
  FileError endGroup();

  // Ends the last group and removes the log.
  FileError finish();

 private:
  // Where the log stands: not kept at all, not created yet, created and
  // covering no group, covering the open group, or failed (the run ends).
  enum class LogState { off, notCreated, idle, groupOpen, failed };

  std::string nameOf(const std::string& path) const;
  // Before a change to `path`: starts a group when none is open, and makes
  // sure the log covers the file; `undo` is what puts it back, when known
  // before the change (null: work it out from the file as it is, for an
  // append). Names the log when it failed: the change must not be made.
  FileError coverBeforeChange(const std::string& path, const UndoRecord* undo);
  // Before a create, which the log leaves out: only starts a group.
  FileError startGroupIfNone();
  // What a create is about to replace, kept in the log before it is changed.
  FileError keepInLog(const std::string& name, const ReplacedFile& old);
  // The undo in memory of an append to a file of `sizeBefore` bytes.
  void noteAppend(const std::string& path, uint64_t sizeBefore, bool created,
                  FileIdentity identity);
  // Keeps `undo` for the unit in hand, and the file system of `path`, on
  // `device`, to be made durable.
  void noteChange(UndoRecord undo, uint64_t device, const std::string& path);
  FileError createLog();
  FileError startGroup(const UndoRecord* first);
  FileError appendToLog(const UndoRecord& record);
  // Cuts the log back to nothing, durably: it covers no group any more.
  FileError emptyLog();
  void removeLog();
  FileError undoInMemory();
  // Makes every file system the group changed durable.
  FileError syncChanged();
  // The log's failure: the run must end.
  FileError logFailed();

  const Folders& folders_;
  std::string root_;
  std::string logPath_;
  std::vector<std::string> appendedNames_;
  std::vector<UndoRecord>
      changes_;  // what undoes the unit in hand, oldest first

  LogState state_ = LogState::off;
  bool logCreated_ = false;      // the log file is this run's, to be removed
  bool nameIsDurable_ = false;   // the log's name is in its folder for good
  bool syncEverything_ = false;  // a changed file system could not be noted
  DurableFile log_;
  UndoLogEncoder encoder_;
  uint64_t logSize_ = 0;
  uint64_t groups_ = 0;
  std::set<std::string> covered_;  // names the open group's log covers
  FileSystems fileSystems_;
};

// What recovery accepts of a log written for the target: a record must be
// one this program writes (`isOwnRecord`); every record is shown to `notice`,
// in order, before any tail is judged; and before a file is cut back,
// `isOwnTail` must say that what lies past the record's size in `file` is
// what one group of this program can have appended there (false, with `why`
// saying what else is there in plain words, otherwise).
struct RecoveryRules {
  std::function<bool(const UndoRecord&)> isOwnRecord;
  std::function<void(const UndoRecord&)> notice;
  std::function<bool(const UndoRecord&, FileReader* file, std::string* why)>
      isOwnTail;
};

// Puts back every file below `root` that the log at `logPath` records, newest
// record first, makes that durable and removes the log. A log that never became
// complete is only removed. The log is used only when this user alone can
// have written it (a regular file of one link, its own, that neither group
// nor others may write) and every record passes `rules`; otherwise nothing is
// changed and the result says why: otherUsersLog (with the user in the
// detail), notOwnLog, or unknownTail naming the file whose tail the rules
// refuse. On another failure the log stays and the result names the file
// that could not be put back, a missing one included (or the log itself).
JournalError recoverFromLog(const Folders& folders, const std::string& root,
                            const std::string& logPath,
                            const RecoveryRules& rules);

// What recoverFromLog would make of the log at `logPath`, changing nothing:
// ok when there is none (`present` false) or it would be applied, otherwise
// what recovery would stop with.
JournalError inspectLog(const Folders& folders, const std::string& root,
                        const std::string& logPath, const RecoveryRules& rules,
                        bool* present);

#endif  // CONVERT_JOURNAL_FILE_JOURNAL_H_

#include "journal/file_journal.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <utility>

#include "base/folder_access.h"

namespace {

// What puts a file that is about to be appended to back as it is now, when
// that can be known: false for something that is no regular file (a change
// to it fails anyway).
bool undoOfAppended(const Folders& folders, const std::string& root,
                    const std::string& name, UndoRecord* undo) {
  PathState state;
  if (!readPathState(folders, root + name, &state).ok()) return false;
  undo->name = name;
  switch (state.kind) {
    case PathState::Kind::regular:
      undo->kind = UndoRecord::Kind::cutBack;
      undo->size = state.size;
      undo->identity = state.identity;
      return true;
    case PathState::Kind::missing:
      undo->kind = UndoRecord::Kind::remove;
      return true;
    case PathState::Kind::other:
      return false;
  }
  return false;
}

UndoRecord putBackOf(const std::string& name, const ReplacedFile& old) {
  UndoRecord undo;
  undo.kind = UndoRecord::Kind::putBack;
  undo.name = name;
  undo.bytes = old.bytes;
  undo.restoresMode = true;
  undo.mode = old.mode;
  undo.identity = old.identity;
  return undo;
}

// A tag for each group's header, different from group to group and from run
// to run, so that records of another group never continue its chain.
uint64_t groupTag(uint64_t groupNumber) {
  return static_cast<uint64_t>(
             std::chrono::system_clock::now().time_since_epoch().count()) ^
         (groupNumber << 48);
}

}  // namespace

FileJournal::FileJournal(const Folders& folders, std::string root,
                         std::string logPath,
                         const std::vector<std::string>& appendedPaths)
    : folders_(folders),
      root_(std::move(root)),
      logPath_(std::move(logPath)),
      state_(logPath_.empty() ? LogState::off : LogState::notCreated),
      fileSystems_(folders) {
  for (const std::string& path : appendedPaths)
    appendedNames_.push_back(nameOf(path));
}

FileJournal::~FileJournal() = default;

std::string FileJournal::nameOf(const std::string& path) const {
  // Every path starts with the root; the log holds what follows it, so that
  // it still applies when the installation is reached by another path.
  return path.compare(0, root_.size(), root_) == 0 ? path.substr(root_.size())
                                                   : path;
}

FileError FileJournal::logFailed() {
  state_ = LogState::failed;
  return FileError(FileResult::writeFailed, logPath_);
}

FileError FileJournal::append(const std::string& path, std::string_view block,
                              std::string_view filler) {
  const FileError covered = coverBeforeChange(path, nullptr);
  if (!covered.ok()) return covered;
  AppendOutcome outcome;
  const FileError result = appendBlock(folders_, path, block, filler, &outcome);
  if (result.result != FileResult::openFailed)
    noteAppend(path, outcome.sizeBefore, outcome.created, outcome.identity);
  return result;
}

FileError FileJournal::append(AppendableFile* file, std::string_view block) {
  const std::string path = file->path();
  const FileError covered = coverBeforeChange(path, nullptr);
  if (!covered.ok()) return covered;
  const uint64_t sizeBefore = file->size();
  const FileIdentity identity = file->identity();
  const FileError result = file->appendAndClose(block);
  if (result.result != FileResult::openFailed)
    noteAppend(path, sizeBefore, false, identity);
  return result;
}

void FileJournal::noteAppend(const std::string& path, uint64_t sizeBefore,
                             bool created, FileIdentity identity) {
  UndoRecord undo;
  undo.kind = created ? UndoRecord::Kind::remove : UndoRecord::Kind::cutBack;
  undo.name = nameOf(path);
  undo.size = sizeBefore;
  undo.identity = identity;
  noteChange(std::move(undo), identity.device, path);
}

void FileJournal::noteChange(UndoRecord undo, uint64_t device,
                             const std::string& path) {
  changes_.push_back(std::move(undo));
  if (!fileSystems_.note(device, path).ok()) syncEverything_ = true;
}

FileError FileJournal::rewrite(RewritableFile* file,
                               std::string_view newContents,
                               std::string oldContents) {
  const std::string path = file->path();
  UndoRecord undo;
  undo.kind = UndoRecord::Kind::putBack;
  undo.name = nameOf(path);
  undo.bytes = std::move(oldContents);
  undo.followLinks = true;  // as the file was opened
  undo.identity = file->identity();
  const FileError covered = coverBeforeChange(path, &undo);
  if (!covered.ok()) return covered;
  const uint64_t device = undo.identity.device;
  const FileError result =
      file->rewriteAndClose(newContents, undo.bytes.size());
  // A failed write may have left part of the new text over the old: putting
  // the old text back cuts off whatever of the new one reaches past it.
  if (result.result != FileResult::openFailed)
    noteChange(std::move(undo), device, path);
  return result;
}

FileError FileJournal::createFile(const std::string& path, std::size_t size) {
  // A file the create makes is left out of the log: the next run makes it
  // again, byte for byte. One it replaces has its bytes kept first.
  const FileError started = startGroupIfNone();
  if (!started.ok()) return started;
  const std::string name = nameOf(path);
  ReplacedFile replaced;
  const FileError result = createFileMode0777(
      folders_, path, size,
      [&](const ReplacedFile& old) { return keepInLog(name, old); }, &replaced);
  if (state_ == LogState::failed) return result;
  if ((result.ok() || result.result == FileResult::writeFailed) &&
      !replaced.unchanged) {
    UndoRecord undo = putBackOf(name, replaced);
    if (!replaced.existed) undo.kind = UndoRecord::Kind::remove;
    noteChange(std::move(undo), replaced.identity.device, path);
  }
  return result;
}

FileError FileJournal::keepInLog(const std::string& name,
                                 const ReplacedFile& old) {
  if (state_ == LogState::failed) return logFailed();
  // Only the first version replaced in a group is the one to put back.
  if (state_ != LogState::groupOpen || covered_.count(name) != 0)
    return FileError();
  const FileError kept = appendToLog(putBackOf(name, old));
  if (kept.ok()) covered_.insert(name);
  return kept;
}

FileError FileJournal::createLog() {
  const FileError created = log_.create(folders_, logPath_);
  if (created.ok()) {
    logCreated_ = true;
    state_ = LogState::idle;
    return created;
  }
  // A folder that does not let this user create files: the step that fails
  // on it names the file it fails on.
  const int error = created.systemError;
  if (error == EACCES || error == EPERM || error == EROFS) {
    state_ = LogState::off;
    return FileError();
  }
  return logFailed();
}

FileError FileJournal::startGroupIfNone() {
  if (state_ == LogState::notCreated) {
    const FileError created = createLog();
    if (!created.ok()) return created;
  }
  if (state_ == LogState::idle) return startGroup(nullptr);
  if (state_ == LogState::failed) return logFailed();
  return FileError();
}

FileError FileJournal::coverBeforeChange(const std::string& path,
                                         const UndoRecord* undo) {
  if (state_ == LogState::notCreated) {
    const FileError created = createLog();
    if (!created.ok()) return created;
  }
  if (state_ == LogState::idle) return startGroup(undo);
  if (state_ == LogState::failed) return logFailed();
  if (state_ != LogState::groupOpen) return FileError();
  const std::string name = nameOf(path);
  if (covered_.count(name) != 0) return FileError();
  UndoRecord record;
  if (undo != nullptr) {
    record = *undo;
  } else if (!undoOfAppended(folders_, root_, name, &record)) {
    return FileError();  // no regular file: the change fails on it
  }
  const FileError kept = appendToLog(record);
  if (kept.ok()) covered_.insert(name);
  return kept;
}

FileError FileJournal::startGroup(const UndoRecord* first) {
  std::string bytes = encoder_.startGroup(groupTag(++groups_));
  covered_.clear();
  for (const std::string& name : appendedNames_) {
    UndoRecord undo;
    if (!undoOfAppended(folders_, root_, name, &undo)) continue;
    bytes += encoder_.encode(undo);
    covered_.insert(name);
  }
  if (first != nullptr) {
    bytes += encoder_.encode(*first);
    covered_.insert(first->name);
  }
  // The log is empty here: created so, or cut back when the last group ended.
  if (!log_.writeAndCut(0, bytes).ok() || !log_.syncData().ok() ||
      (!nameIsDurable_ && !syncDirectory(folders_, folderOf(logPath_)).ok()))
    return logFailed();
  nameIsDurable_ = true;
  logSize_ = bytes.size();
  state_ = LogState::groupOpen;
  return FileError();
}

FileError FileJournal::appendToLog(const UndoRecord& record) {
  const std::string bytes = encoder_.encode(record);
  if (!log_.writeAt(logSize_, bytes).ok() || !log_.syncData().ok())
    return logFailed();
  logSize_ += bytes.size();
  return FileError();
}

FileError FileJournal::syncChanged() {
  if (syncEverything_) ::sync();
  return fileSystems_.syncChanged();
}

FileError FileJournal::emptyLog() {
  if (log_.writeAndCut(0, std::string_view()).ok() && log_.syncData().ok())
    return FileError();
  return logFailed();
}

void FileJournal::removeLog() {
  log_.close();
  if (logCreated_ && removeFile(folders_, logPath_).ok())
    (void)syncDirectory(folders_, folderOf(logPath_));
  logCreated_ = false;
}

FileError FileJournal::undoInMemory() {
  FileError first;
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    const FileError undone = applyUndoRecord(folders_, root_, *change);
    if (first.ok()) first = undone;
  }
  changes_.clear();
  return first;
}

FileError FileJournal::rollback() {
  if (state_ == LogState::groupOpen) {
    // The group's earlier units are made durable; from then on the log covers
    // the unit in hand alone, so that an undo cut off half way is finished by
    // the next run. When that cannot be, the log goes on covering the whole
    // group, and the next run puts all of it back.
    bool unitCovered = false;
    if (syncChanged().ok() && emptyLog().ok()) {
      std::string bytes = encoder_.startGroup(groupTag(++groups_));
      for (const UndoRecord& change : changes_)
        bytes += encoder_.encode(change);
      unitCovered = log_.writeAndCut(0, bytes).ok() && log_.syncData().ok();
    }
    if (!unitCovered) state_ = LogState::failed;
  }
  const FileError undone = undoInMemory();
  // Put back but not durable yet: the log stays, and the next run puts the
  // same bytes back again.
  if (logCreated_ && undone.ok() && syncChanged().ok()) removeLog();
  state_ = LogState::off;
  return undone;
}

FileError FileJournal::endGroup() {
  if (state_ == LogState::failed) return logFailed();
  if (state_ != LogState::groupOpen) return FileError();
  // The log covers the group until every change of it is durable.
  if (!syncChanged().ok() || !emptyLog().ok()) return logFailed();
  state_ = LogState::idle;
  return FileError();
}

FileError FileJournal::finish() {
  const FileError ended = endGroup();
  if (!ended.ok()) return ended;
  removeLog();
  state_ = LogState::off;
  return FileError();
}

namespace {

// Checks the whole log before anything is changed: every record must pass
// the rules, and every cut must take off only what a group can have added.
JournalError checkLog(const Folders& folders, const std::string& root,
                      UndoLogReader* reader, FileReader* log,
                      const RecoveryRules& rules) {
  const std::string& logPath = log->path();
  UndoRecord record;
  while (reader->next(&record)) {
    // No mode past 0777: a set-id or sticky bit is never put back.
    if ((record.mode & ~0777u) != 0 ||
        (rules.isOwnRecord && !rules.isOwnRecord(record)))
      return JournalError(Refusal::notOwnLog, logPath);
    if (rules.notice) rules.notice(record);
  }
  if (log->hasFailed()) return FileError(FileResult::readFailed, logPath);
  for (std::size_t i = 0; i < reader->count(); ++i) {
    if (!reader->reread(i, &record))
      return FileError(FileResult::readFailed, logPath);
    if (record.kind != UndoRecord::Kind::cutBack || !rules.isOwnTail) continue;
    const std::string path = root + record.name;
    FileReader file(folders, path);
    // A file that is not there now fails when it is put back.
    if (!file.isOpen() || file.size() <= record.size) continue;
    std::string why;
    if (!rules.isOwnTail(record, &file, &why)) {
      if (file.hasFailed()) return FileError(FileResult::readFailed, path);
      return JournalError(Refusal::unknownTail, path, why);
    }
  }
  return JournalError();
}

// Opens the log at `logPath` as recovery takes it: ok with `log` empty when
// there is none, ok with `log` open when this user alone can have written it
// (a regular file of one link, its own, that neither group nor others may
// write), otherUsersLog or notOwnLog otherwise. Anyone else could name any
// file in it, or any bytes.
JournalError openOwnLog(const Folders& folders, const std::string& logPath,
                        std::optional<FileReader>* log) {
  PathState state;
  const FileError stated = readPathState(folders, logPath, &state);
  if (!stated.ok() || state.kind == PathState::Kind::missing) return stated;
  log->emplace(folders, logPath, /*followLinks=*/false);
  const FileReader& file = **log;
  if (file.isOpen() && file.owner() != ::geteuid())
    return JournalError(Refusal::otherUsersLog, logPath,
                        userName(file.owner()));
  if (!file.isOpen() || file.links() != 1 || (file.mode() & 022) != 0)
    return JournalError(Refusal::notOwnLog, logPath);
  return JournalError();
}

// Puts back every record the reader found, newest first, once every file is
// known to be reachable, and makes that durable.
JournalError applyLog(const Folders& folders, const std::string& root,
                      UndoLogReader* reader, const std::string& logPath) {
  UndoRecord record;
  // Every file must be reachable before any is put back: stopping half way
  // would leave the files of one group at different points.
  for (std::size_t i = 0; i < reader->count(); ++i) {
    if (!reader->reread(i, &record))
      return FileError(FileResult::readFailed, logPath);
    if (record.kind == UndoRecord::Kind::remove) continue;
    const FileError reachable = probePutBack(
        folders, root + record.name,
        record.kind == UndoRecord::Kind::cutBack || record.followLinks,
        record.identity);
    if (!reachable.ok())
      return FileError(FileResult::writeFailed, reachable.path);
  }
  FileSystems fileSystems(folders);
  for (std::size_t i = reader->count(); i-- > 0;) {
    if (!reader->reread(i, &record))
      return FileError(FileResult::readFailed, logPath);
    const FileError applied = applyUndoRecord(folders, root, record);
    if (!applied.ok()) return FileError(FileResult::writeFailed, applied.path);
    if (!fileSystems.noteFileOf(root + record.name).ok()) ::sync();
  }
  // Only once every file is put back for good may the log go.
  return failedUnless(fileSystems.syncChanged().ok(), FileResult::writeFailed,
                      logPath);
}

}  // namespace

JournalError inspectLog(const Folders& folders, const std::string& root,
                        const std::string& logPath, const RecoveryRules& rules,
                        bool* present) {
  std::optional<FileReader> log;
  const JournalError opened = openOwnLog(folders, logPath, &log);
  *present = log.has_value();
  if (!opened.ok() || !log) return opened;
  UndoLogReader reader(&*log);
  if (!reader.readHeader())
    return failedUnless(!log->hasFailed(), FileResult::readFailed, logPath);
  return checkLog(folders, root, &reader, &*log, rules);
}

JournalError recoverFromLog(const Folders& folders, const std::string& root,
                            const std::string& logPath,
                            const RecoveryRules& rules) {
  std::optional<FileReader> log;
  const JournalError opened = openOwnLog(folders, logPath, &log);
  if (!opened.ok() || !log) return opened;
  UndoLogReader reader(&*log);
  if (reader.readHeader()) {
    const JournalError checked = checkLog(folders, root, &reader, &*log, rules);
    if (!checked.ok()) return checked;
    const JournalError applied = applyLog(folders, root, &reader, logPath);
    if (!applied.ok()) return applied;
  } else if (log->hasFailed()) {
    return FileError(FileResult::readFailed, logPath);
  }
  // A log without a complete header never began its group: it is only
  // removed.
  if (!removeFile(folders, logPath).ok() ||
      !syncDirectory(folders, folderOf(logPath)).ok())
    return FileError(FileResult::writeFailed, logPath);
  return JournalError();
}

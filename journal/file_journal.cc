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
  if (!readPathState(folders, root + name, &state)) return false;
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

const std::string& FileJournal::failedPath(const std::string& path) const {
  return hasLogFailed() ? logPath_ : path;
}

FileResult FileJournal::append(const std::string& path, std::string_view block,
                               std::string_view filler) {
  if (!coverBeforeChange(path, nullptr)) return FileResult::writeFailed;
  AppendOutcome outcome;
  const FileResult result =
      appendBlock(folders_, path, block, filler, &outcome);
  if (result != FileResult::openFailed)
    noteAppend(path, outcome.sizeBefore, outcome.created, outcome.identity);
  return result;
}

FileResult FileJournal::append(AppendableFile* file, const std::string& path,
                               std::string_view block) {
  if (!coverBeforeChange(path, nullptr)) return FileResult::writeFailed;
  const uint64_t sizeBefore = file->size();
  const FileIdentity identity = file->identity();
  const FileResult result = file->appendAndClose(block);
  if (result != FileResult::openFailed)
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
  if (!fileSystems_.note(device, path)) syncEverything_ = true;
}

FileResult FileJournal::rewrite(RewritableFile* file, const std::string& path,
                                std::string_view newContents,
                                std::string oldContents) {
  UndoRecord undo;
  undo.kind = UndoRecord::Kind::putBack;
  undo.name = nameOf(path);
  undo.bytes = std::move(oldContents);
  undo.followLinks = true;  // as the file was opened
  undo.identity = file->identity();
  if (!coverBeforeChange(path, &undo)) return FileResult::writeFailed;
  const uint64_t device = undo.identity.device;
  const FileResult result =
      file->rewriteAndClose(newContents, undo.bytes.size());
  // A failed write may have left part of the new text over the old: putting
  // the old text back cuts off whatever of the new one reaches past it.
  if (result != FileResult::openFailed)
    noteChange(std::move(undo), device, path);
  return result;
}

FileResult FileJournal::createFile(const std::string& path, std::size_t size) {
  // A file the create makes is left out of the log: the next run makes it
  // again, byte for byte. One it replaces has its bytes kept first.
  if (!startGroupIfNone()) return FileResult::writeFailed;
  const std::string name = nameOf(path);
  ReplacedFile replaced;
  const FileResult result = createFileMode0777(
      folders_, path, size,
      [&](const ReplacedFile& old) { return keepInLog(name, old); }, &replaced);
  if (state_ == LogState::failed) return FileResult::writeFailed;
  if ((result == FileResult::ok || result == FileResult::writeFailed) &&
      !replaced.unchanged) {
    UndoRecord undo = putBackOf(name, replaced);
    if (!replaced.existed) undo.kind = UndoRecord::Kind::remove;
    noteChange(std::move(undo), replaced.identity.device, path);
  }
  return result;
}

bool FileJournal::keepInLog(const std::string& name, const ReplacedFile& old) {
  if (state_ != LogState::groupOpen) return state_ != LogState::failed;
  // Only the first version replaced in a group is the one to put back.
  if (covered_.count(name) != 0) return true;
  if (!appendToLog(putBackOf(name, old))) return false;
  covered_.insert(name);
  return true;
}

bool FileJournal::createLog() {
  int error = 0;
  if (log_.create(folders_, logPath_, &error)) {
    logCreated_ = true;
    state_ = LogState::idle;
    return true;
  }
  // A folder that does not let this user create files: the step that fails
  // on it names the file it fails on.
  if (error == EACCES || error == EPERM || error == EROFS) {
    state_ = LogState::off;
    return true;
  }
  state_ = LogState::failed;
  return false;
}

bool FileJournal::startGroupIfNone() {
  if (state_ == LogState::notCreated && !createLog()) return false;
  if (state_ == LogState::idle) return startGroup(nullptr);
  return state_ != LogState::failed;
}

bool FileJournal::coverBeforeChange(const std::string& path,
                                    const UndoRecord* undo) {
  if (state_ == LogState::notCreated && !createLog()) return false;
  if (state_ == LogState::idle) return startGroup(undo);
  if (state_ != LogState::groupOpen) return state_ != LogState::failed;
  const std::string name = nameOf(path);
  if (covered_.count(name) != 0) return true;
  UndoRecord record;
  if (undo != nullptr) {
    record = *undo;
  } else if (!undoOfAppended(folders_, root_, name, &record)) {
    return true;  // no regular file: the change fails on it
  }
  if (!appendToLog(record)) return false;
  covered_.insert(name);
  return true;
}

bool FileJournal::startGroup(const UndoRecord* first) {
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
  if (!log_.writeAndCut(0, bytes) || !log_.syncData() ||
      (!nameIsDurable_ && !syncDirectory(folders_, folderOf(logPath_)))) {
    state_ = LogState::failed;
    return false;
  }
  nameIsDurable_ = true;
  logSize_ = bytes.size();
  state_ = LogState::groupOpen;
  return true;
}

bool FileJournal::appendToLog(const UndoRecord& record) {
  const std::string bytes = encoder_.encode(record);
  if (!log_.writeAt(logSize_, bytes) || !log_.syncData()) {
    state_ = LogState::failed;
    return false;
  }
  logSize_ += bytes.size();
  return true;
}

bool FileJournal::syncChanged() {
  if (syncEverything_) ::sync();
  return fileSystems_.syncChanged();
}

bool FileJournal::emptyLog() {
  if (log_.writeAndCut(0, std::string_view()) && log_.syncData()) return true;
  state_ = LogState::failed;
  return false;
}

void FileJournal::removeLog() {
  log_.close();
  if (logCreated_ && removeFile(folders_, logPath_) == FileResult::ok)
    (void)syncDirectory(folders_, folderOf(logPath_));
  logCreated_ = false;
}

bool FileJournal::undoInMemory() {
  bool undone = true;
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    if (applyUndoRecord(folders_, root_, *change) != FileResult::ok)
      undone = false;
  }
  changes_.clear();
  return undone;
}

bool FileJournal::rollback() {
  if (state_ == LogState::groupOpen) {
    // The group's earlier units are made durable; from then on the log covers
    // the unit in hand alone, so that an undo cut off half way is finished by
    // the next run. When that cannot be, the log goes on covering the whole
    // group, and the next run puts all of it back.
    bool unitCovered = false;
    if (syncChanged() && emptyLog()) {
      std::string bytes = encoder_.startGroup(groupTag(++groups_));
      for (const UndoRecord& change : changes_)
        bytes += encoder_.encode(change);
      unitCovered = log_.writeAndCut(0, bytes) && log_.syncData();
    }
    if (!unitCovered) state_ = LogState::failed;
  }
  const bool undone = undoInMemory();
  if (logCreated_ && undone && syncChanged()) removeLog();
  state_ = LogState::off;
  return undone;
}

FileResult FileJournal::endGroup() {
  if (state_ == LogState::failed) return FileResult::writeFailed;
  if (state_ != LogState::groupOpen) return FileResult::ok;
  // The log covers the group until every change of it is durable.
  if (!syncChanged() || !emptyLog()) {
    state_ = LogState::failed;
    return FileResult::writeFailed;
  }
  state_ = LogState::idle;
  return FileResult::ok;
}

FileResult FileJournal::finish() {
  const FileResult ended = endGroup();
  if (ended != FileResult::ok) return ended;
  removeLog();
  state_ = LogState::off;
  return FileResult::ok;
}

namespace {

// Checks the whole log before anything is changed: every record must pass
// the rules, and every cut must take off only what a group can have added.
FileError checkLog(const Folders& folders, const std::string& root,
                   UndoLogReader* reader, FileReader* log,
                   const RecoveryRules& rules, const std::string& logPath) {
  UndoRecord record;
  while (reader->next(&record)) {
    if ((record.mode & ~0777u) != 0 ||
        (rules.isOwnRecord && !rules.isOwnRecord(record)))
      return FileError{FileResult::notOwnLog, logPath, std::string()};
    if (rules.notice) rules.notice(record);
  }
  if (log->hasFailed())
    return FileError{FileResult::readFailed, logPath, std::string()};
  for (std::size_t i = 0; i < reader->count(); ++i) {
    if (!reader->reread(i, &record))
      return FileError{FileResult::readFailed, logPath, std::string()};
    if (record.kind != UndoRecord::Kind::cutBack || !rules.isOwnTail) continue;
    const std::string path = root + record.name;
    FileReader file(folders, path);
    // A file that is not there now fails when it is put back.
    if (!file.isOpen() || file.size() <= record.size) continue;
    std::string why;
    if (!rules.isOwnTail(record, &file, &why)) {
      return FileError{
          file.hasFailed() ? FileResult::readFailed : FileResult::unknownTail,
          path, why};
    }
  }
  return FileError();
}

// Opens the log at `logPath` as recovery takes it: ok with `log` empty when
// there is none, ok with `log` open when this user alone can have written it
// (a regular file of one link, its own, that neither group nor others may
// write), otherUsersLog or notOwnLog otherwise. Anyone else could name any
// file in it, or any bytes.
FileError openOwnLog(const Folders& folders, const std::string& logPath,
                     std::optional<FileReader>* log) {
  PathState state;
  if (!readPathState(folders, logPath, &state))
    return FileError{FileResult::openFailed, logPath, std::string()};
  if (state.kind == PathState::Kind::missing) return FileError();
  log->emplace(folders, logPath, /*followLinks=*/false);
  const FileReader& file = **log;
  if (file.isOpen() && file.owner() != ::geteuid())
    return FileError{FileResult::otherUsersLog, logPath,
                     userName(file.owner())};
  if (!file.isOpen() || file.links() != 1 || (file.mode() & 022) != 0)
    return FileError{FileResult::notOwnLog, logPath, std::string()};
  return FileError();
}

}  // namespace

FileError inspectLog(const Folders& folders, const std::string& root,
                     const std::string& logPath, const RecoveryRules& rules,
                     bool* present) {
  std::optional<FileReader> log;
  const FileError opened = openOwnLog(folders, logPath, &log);
  *present = log.has_value();
  if (opened.result != FileResult::ok || !log) return opened;
  UndoLogReader reader(&*log);
  if (!reader.readHeader()) {
    return log->hasFailed()
               ? FileError{FileResult::readFailed, logPath, std::string()}
               : FileError();
  }
  return checkLog(folders, root, &reader, &*log, rules, logPath);
}

FileError recoverFromLog(const Folders& folders, const std::string& root,
                         const std::string& logPath,
                         const RecoveryRules& rules) {
  const FileError failedLog{FileResult::writeFailed, logPath, std::string()};
  std::optional<FileReader> log;
  const FileError opened = openOwnLog(folders, logPath, &log);
  if (opened.result != FileResult::ok || !log) return opened;
  UndoLogReader reader(&*log);
  UndoRecord record;
  if (reader.readHeader()) {
    const FileError checked =
        checkLog(folders, root, &reader, &*log, rules, logPath);
    if (checked.result != FileResult::ok) return checked;
    // Every file must be reachable before any is put back: stopping half way
    // would leave the files of one group at different points.
    for (std::size_t i = 0; i < reader.count(); ++i) {
      if (!reader.reread(i, &record))
        return FileError{FileResult::readFailed, logPath, std::string()};
      if (record.kind == UndoRecord::Kind::remove) continue;
      const std::string file = root + record.name;
      if (probePutBack(
              folders, file,
              record.kind == UndoRecord::Kind::cutBack || record.followLinks,
              record.identity) != FileResult::ok)
        return FileError{FileResult::writeFailed, file, std::string()};
    }
    FileSystems fileSystems(folders);
    for (std::size_t i = reader.count(); i-- > 0;) {
      if (!reader.reread(i, &record))
        return FileError{FileResult::readFailed, logPath, std::string()};
      const std::string file = root + record.name;
      if (applyUndoRecord(folders, root, record) != FileResult::ok)
        return FileError{FileResult::writeFailed, file, std::string()};
      if (!fileSystems.noteFileOf(file)) ::sync();
    }
    // Only once every file is put back for good may the log go.
    if (!fileSystems.syncChanged()) return failedLog;
  } else if (log->hasFailed()) {
    return FileError{FileResult::readFailed, logPath, std::string()};
  }
  // A log without a complete header never began its group: it is only
  // removed.
  if (removeFile(folders, logPath) != FileResult::ok ||
      !syncDirectory(folders, folderOf(logPath)))
    return failedLog;
  return FileError();
}

#include "base/file_journal.h"

#include <chrono>
#include <utility>

namespace {

// The directory that holds `path`, whose names must be made durable.
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What puts a file that is about to be appended to back as it is now, when
// that can be known: false for something that is no regular file (a change
// to it fails anyway).
bool undoOfAppended(const std::string& root, const std::string& name,
                    UndoRecord* undo) {
  PathState state;
  if (!readPathState(root + name, &state)) return false;
  undo->name = name;
  switch (state.kind) {
    case PathState::Kind::regular:
      undo->kind = UndoRecord::Kind::cutBack;
      undo->size = state.size;
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
  return undo;
}

}  // namespace

FileJournal::FileJournal(std::string root, std::string logPath,
                         const std::vector<std::string>& appendedPaths)
    : root_(std::move(root)),
      logPath_(std::move(logPath)),
      logging_(!logPath_.empty()) {
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

FileResult FileJournal::append(const std::string& path, std::string_view block,
                               std::string_view filler) {
  coverBeforeChange(path, nullptr);
  AppendOutcome outcome;
  const FileResult result = appendBlock(path, block, filler, &outcome);
  if (result != FileResult::openFailed)
    noteAppend(path, outcome.sizeBefore, outcome.created);
  return result;
}

FileResult FileJournal::append(AppendableFile* file, const std::string& path,
                               std::string_view block) {
  coverBeforeChange(path, nullptr);
  const uint64_t sizeBefore = file->size();
  const FileResult result = file->appendAndClose(block);
  if (result != FileResult::openFailed) noteAppend(path, sizeBefore, false);
  return result;
}

void FileJournal::noteAppend(const std::string& path, uint64_t sizeBefore,
                             bool created) {
  UndoRecord undo;
  undo.kind = created ? UndoRecord::Kind::remove : UndoRecord::Kind::cutBack;
  undo.name = nameOf(path);
  undo.size = sizeBefore;
  changes_.push_back(Change{std::move(undo), path});
}

FileResult FileJournal::rewrite(RewritableFile* file, const std::string& path,
                                std::string_view newContents,
                                std::string oldContents) {
  UndoRecord undo;
  undo.kind = UndoRecord::Kind::putBack;
  undo.name = nameOf(path);
  undo.bytes = std::move(oldContents);
  undo.followLinks = true;  // as the file was opened
  coverBeforeChange(path, &undo);
  const FileResult result =
      file->rewriteAndClose(newContents, undo.bytes.size());
  // A failed write may have left part of the new text over the old: putting
  // the old text back cuts off whatever of the new one reaches past it.
  if (result != FileResult::openFailed)
    changes_.push_back(Change{std::move(undo), path});
  return result;
}

FileResult FileJournal::createZeroFile(const std::string& path,
                                       std::size_t size) {
  // A file the create makes is left out of the log: the next run makes it
  // again, byte for byte. One it replaces has its bytes kept first.
  startGroupIfNone();
  const std::string name = nameOf(path);
  ReplacedFile replaced;
  const FileResult result = ::createZeroFile(
      path, size, [&](const ReplacedFile& old) { keepInLog(name, old); },
      &replaced);
  if (result == FileResult::ok || result == FileResult::writeFailed) {
    UndoRecord undo = putBackOf(name, replaced);
    if (!replaced.existed) undo.kind = UndoRecord::Kind::remove;
    changes_.push_back(Change{std::move(undo), path});
  }
  return result;
}

bool FileJournal::createEmptyFile(const std::string& path) {
  startGroupIfNone();
  const std::string name = nameOf(path);
  return createEmptyFileMode0777(
      path, [&](const ReplacedFile& old) { keepInLog(name, old); });
}

void FileJournal::keepInLog(const std::string& name, const ReplacedFile& old) {
  // Only the first version replaced in a group is the one to put back.
  if (logging_ && covered_.insert(name).second)
    (void)appendToLog(putBackOf(name, old));
}

void FileJournal::startGroupIfNone() {
  if (logging_ && !groupOpen_) startGroup(nullptr);
}

void FileJournal::coverBeforeChange(const std::string& path,
                                    const UndoRecord* undo) {
  if (!logging_) return;
  if (!groupOpen_) {
    startGroup(undo);
    return;
  }
  const std::string name = nameOf(path);
  if (covered_.count(name) != 0) return;
  UndoRecord record;
  if (undo != nullptr) {
    record = *undo;
  } else if (!undoOfAppended(root_, name, &record)) {
    return;
  }
  if (appendToLog(record)) covered_.insert(name);
}

bool FileJournal::startGroup(const UndoRecord* first) {
  bool created = false;
  if (!log_.isOpen() && !log_.open(logPath_, &created)) {
    stopLogging(false);
    return false;
  }
  const uint64_t tag =
      static_cast<uint64_t>(
          std::chrono::system_clock::now().time_since_epoch().count()) ^
      (++groups_ << 48);
  std::string bytes = encoder_.startGroup(tag);
  covered_.clear();
  for (const std::string& name : appendedNames_) {
    UndoRecord undo;
    if (!undoOfAppended(root_, name, &undo)) continue;
    bytes += encoder_.encode(undo);
    covered_.insert(name);
  }
  if (first != nullptr) {
    bytes += encoder_.encode(*first);
    covered_.insert(first->name);
  }
  if (!log_.writeAndCut(0, bytes) || !log_.syncData() ||
      (created && !syncDirectory(directoryOf(logPath_)))) {
    stopLogging(true);
    return false;
  }
  logSize_ = bytes.size();
  groupOpen_ = true;
  return true;
}

bool FileJournal::appendToLog(const UndoRecord& record) {
  const std::string bytes = encoder_.encode(record);
  if (!log_.writeAt(logSize_, bytes) || !log_.syncData()) {
    stopLogging(true);
    return false;
  }
  logSize_ += bytes.size();
  return true;
}

void FileJournal::stopLogging(bool removeLog) {
  const bool wasOpen = log_.isOpen();
  log_.close();
  if (removeLog && wasOpen) (void)removeFile(logPath_);
  logging_ = false;
  groupOpen_ = false;
}

bool FileJournal::undoInMemory() {
  bool undone = true;
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    if (applyUndoRecord(root_, change->undo) != FileResult::ok) undone = false;
  }
  changes_.clear();
  return undone;
}

bool FileJournal::rollback() {
  bool covered = false;
  if (logging_ && groupOpen_) {
    if (!log_.syncFileSystem()) {
      // The group may not be durable: the log goes on covering all of it, so
      // that the next run puts it back whole and imports it again.
      stopLogging(false);
    } else {
      // The group's earlier units are durable: from now on the log covers
      // the unit in hand alone.
      UndoLogEncoder unit;
      std::string bytes = unit.startGroup(++groups_);
      for (const Change& change : changes_) bytes += unit.encode(change.undo);
      covered = log_.writeAndCut(0, bytes) && log_.syncData();
      if (!covered) stopLogging(true);
    }
  }
  const bool undone = undoInMemory();
  if (covered) {
    if (undone && log_.syncFileSystem()) {
      groupOpen_ = false;
      finish();
    } else {
      stopLogging(false);  // the next run finishes the undo
    }
  }
  logging_ = false;
  groupOpen_ = false;
  return undone;
}

void FileJournal::endGroup() {
  if (!logging_ || !groupOpen_) return;
  // The log covers the group until every change of it is durable.
  if (!log_.syncFileSystem()) {
    stopLogging(false);
    return;
  }
  groupOpen_ = false;
}

void FileJournal::finish() {
  endGroup();
  if (!logging_ || !log_.isOpen()) return;
  log_.close();
  const std::string path = logPath_;
  if (removeFile(path) == FileResult::ok)
    (void)syncDirectory(directoryOf(path));
  logging_ = false;
}

FileResult recoverFromLog(const std::string& root, const std::string& logPath,
                          std::string* failedPath) {
  const std::string& path = logPath;
  *failedPath = path;
  PathState state;
  if (!readPathState(path, &state)) return FileResult::openFailed;
  if (state.kind == PathState::Kind::missing) return FileResult::ok;
  std::string bytes;
  const FileResult read = readWholeFile(path, &bytes, /*followLinks=*/false);
  if (read != FileResult::ok) return read;
  std::vector<UndoRecord> records;
  if (!decodeUndoLog(bytes, &records)) {
    // Never complete: its group made no change.
    (void)removeFile(path);
    return FileResult::ok;
  }
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (applyUndoRecord(root, *record) != FileResult::ok) {
      *failedPath = root + record->name;
      return FileResult::writeFailed;
    }
  }
  // Only once every file is put back for good may the log go.
  DurableFile log;
  bool created = false;
  if (!log.open(path, &created) || !log.syncFileSystem())
    return FileResult::writeFailed;
  log.close();
  if (removeFile(path) != FileResult::ok || !syncDirectory(directoryOf(path))) {
    return FileResult::writeFailed;
  }
  return FileResult::ok;
}

// Durability and locking: the rollback log's file, the syncs that make a
// group of changes durable, and the lock that keeps two runs over one target
// apart.
#ifndef CONVERT_JOURNAL_DURABLE_FILE_H_
#define CONVERT_JOURNAL_DURABLE_FILE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "base/file_error.h"
#include "base/folder_access.h"
#include "journal/journal_error.h"

// A file kept open for the whole run to hold a log that must survive a crash:
// written in place, cut, and made durable on request.
class DurableFile {
 public:
  DurableFile() = default;
  ~DurableFile();
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Creates the file at `path` for reading and writing, readable and writable
  // by its owner alone. openFailed, with the system's error number, when
  // anything is there already (a symbolic link included): a log must be the
  // run's own.
  FileError create(const Folders& folders, const std::string& path);
  bool isOpen() const { return fd_ >= 0; }
  // Writes `bytes` at `offset`, then cuts the file to end right after them.
  FileError writeAndCut(uint64_t offset, std::string_view bytes);
  // Writes `bytes` at `offset`.
  FileError writeAt(uint64_t offset, std::string_view bytes);
  // Makes the file's bytes and size durable.
  FileError syncData();
  void close();

 private:
  std::string path_;
  int fd_ = -1;
};

// Makes the names in the folder `path`, one of `folders`, durable.
FileError syncDirectory(const Folders& folders, const std::string& path);

// The file systems that a group of changes reached, each made durable with
// one syncfs(2). A descriptor is kept for each, so that it can be synced even
// when the file that showed it has gone.
class FileSystems {
 public:
  explicit FileSystems(const Folders& folders) : folders_(folders) {}
  ~FileSystems();
  FileSystems(const FileSystems&) = delete;
  FileSystems& operator=(const FileSystems&) = delete;

  // Notes that the file system `device`, which holds `path`, was changed.
  // openFailed when it cannot be reached to be synced later.
  FileError note(uint64_t device, const std::string& path);
  // Notes the file system of `path` (through a symbolic link).
  FileError noteFileOf(const std::string& path);
  // Makes every file system changed since the last call durable: writeFailed
  // naming the file that showed one that fails (it stays to be synced again).
  FileError syncChanged();

 private:
  struct Entry {
    int fd = -1;
    bool changed = false;
    std::string path;
  };
  const Folders& folders_;
  std::map<uint64_t, Entry> entries_;
};

// How a run waits for the lock: `onWait` is called once when another run
// holds it, and the wait ends as soon as `shouldStop` returns true.
struct LockWait {
  std::function<void()> onWait;
  std::function<bool()> shouldStop;
};

// The lock that keeps two runs over one target apart: an exclusive flock(2) on
// a lock file that only this user can open (created readable and writable by
// its owner alone, never through a link), so that no other user can hold it.
// Held until the object goes away, which removes the file.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock at `path`, waiting as `wait` says. ok when held, or when
  // the wait was stopped, or the folder is missing or this user cannot
  // create files in it (isHeld() is false then); otherUsersLock (with the
  // detail naming its owner) when the file there is not this user's alone;
  // openFailed when the file cannot be made or opened otherwise.
  JournalError take(const Folders& folders, const std::string& path,
                    const LockWait& wait);
  bool isHeld() const { return fd_ >= 0; }

 private:
  const Folders* folders_ = nullptr;
  std::string path_;
  int fd_ = -1;
};

// Whether a run holds the lock at `path` now; changes nothing.
bool isLockHeld(const Folders& folders, const std::string& path);

#endif  // CONVERT_JOURNAL_DURABLE_FILE_H_

// Durability and locking: the rollback log's file, the syncs that make a
// group of changes durable, and the lock that keeps two runs over one target
// apart.
#ifndef CONVERT_BASE_DURABLE_FILE_H_
#define CONVERT_BASE_DURABLE_FILE_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// A file kept open for the whole run to hold a log that must survive a crash:
// written in place, cut, and made durable on request.
class DurableFile {
 public:
  DurableFile() = default;
  ~DurableFile();
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Creates the file at `path` for reading and writing, readable and writable
  // by its owner alone. Fails, with the error number in `error`, when anything
  // is there already (a symbolic link included): a log must be the run's own.
  bool create(const std::string& path, int* error);
  bool isOpen() const { return fd_ >= 0; }
  // Writes `bytes` at `offset`, then cuts the file to end right after them.
  bool writeAndCut(uint64_t offset, std::string_view bytes);
  // Writes `bytes` at `offset`.
  bool writeAt(uint64_t offset, std::string_view bytes);
  // Makes the file's bytes and size durable.
  bool syncData();
  void close();

 private:
  int fd_ = -1;
};

// Makes the names in the directory durable.
bool syncDirectory(const std::string& path);

// The file system that holds what `path` names (through a symbolic link);
// false when that cannot be learnt.
bool fileSystemOf(const std::string& path, uint64_t* device);

// The file systems that a group of changes reached, each made durable with
// one syncfs(2). A descriptor is kept for each, so that it can be synced even
// when the file that showed it has gone.
class FileSystems {
 public:
  FileSystems() = default;
  ~FileSystems();
  FileSystems(const FileSystems&) = delete;
  FileSystems& operator=(const FileSystems&) = delete;

  // Notes that the file system `device`, which holds `path`, was changed.
  // False when it cannot be reached to be synced later.
  bool note(uint64_t device, const std::string& path);
  // Notes the file system of `path` (through a symbolic link).
  bool noteFileOf(const std::string& path);
  // Makes every file system changed since the last call durable: false when
  // one of them fails (it stays to be synced again).
  bool syncChanged();

 private:
  struct Entry {
    int fd = -1;
    bool changed = false;
  };
  std::map<uint64_t, Entry> entries_;
};

// An exclusive flock(2) on a directory, held until the object goes away. When
// the directory cannot be opened nothing is held.
class DirectoryLock {
 public:
  // Waits for the lock, or with `wait` false only tries it.
  explicit DirectoryLock(const std::string& path, bool wait = true);
  // Whether the lock is held (false when another process holds it and the
  // lock was only tried, or the directory did not open).
  bool isHeld() const { return fd_ >= 0; }
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_ = -1;
};

#endif  // CONVERT_BASE_DURABLE_FILE_H_

#include "journal/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/folder_access.h"

DurableFile::~DurableFile() { close(); }

FileError DurableFile::create(const Folders& folders, const std::string& path) {
  close();
  path_ = path;
  // Owner only: the log holds the old bytes of the files it covers.
  fd_ = openPath(folders, path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  FileError error = failedUnless(fd_ >= 0, FileResult::openFailed, path);
  if (fd_ < 0) error.systemError = errno;
  return error;
}

FileError DurableFile::writeAndCut(uint64_t offset, std::string_view bytes) {
  FileError error = writeAt(offset, bytes);
  if (error.ok() &&
      ::ftruncate(fd_, static_cast<off_t>(offset + bytes.size())) != 0)
    error = FileError(FileResult::writeFailed, path_);
  return error;
}

FileError DurableFile::writeAt(uint64_t offset, std::string_view bytes) {
  return failedUnless(
      fd_ >= 0 && writeAll(fd_, bytes, static_cast<off_t>(offset)),
      FileResult::writeFailed, path_);
}

FileError DurableFile::syncData() {
  return failedUnless(
      fd_ >= 0 && retryInterrupted([&] { return ::fdatasync(fd_); }) == 0,
      FileResult::writeFailed, path_);
}

void DurableFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileSystems::~FileSystems() {
  for (auto& entry : entries_)
    if (entry.second.fd >= 0) ::close(entry.second.fd);
}

FileError FileSystems::note(uint64_t device, const std::string& path) {
  auto found = entries_.find(device);
  if (found == entries_.end()) {
    Entry entry;
    entry.fd = openPath(folders_, path, O_RDONLY);
    if (entry.fd < 0) entry.fd = folders_.openFolder(folderOf(path), O_RDONLY);
    if (entry.fd < 0) return FileError(FileResult::openFailed, path);
    entry.path = path;
    found = entries_.emplace(device, std::move(entry)).first;
  }
  found->second.changed = true;
  return FileError();
}

FileError FileSystems::noteFileOf(const std::string& path) {
  struct stat info;
  if (statPath(folders_, path, &info, true) == 0)
    return note(static_cast<uint64_t>(info.st_dev), path);
  // Removed: its folder is on the same file system.
  const std::string folder = folderOf(path);
  if (statPath(folders_, folder, &info, true) != 0)
    return FileError(FileResult::openFailed, folder);
  return note(static_cast<uint64_t>(info.st_dev), folder);
}

FileError FileSystems::syncChanged() {
  for (auto& entry : entries_) {
    if (!entry.second.changed) continue;
    if (retryInterrupted([&] { return ::syncfs(entry.second.fd); }) != 0)
      return FileError(FileResult::writeFailed, entry.second.path);
    entry.second.changed = false;
  }
  return FileError();
}

FileError syncDirectory(const Folders& folders, const std::string& path) {
  const int fd = folders.openFolder(path, O_RDONLY);
  if (fd < 0) return FileError(FileResult::openFailed, path);
  const bool synced = retryInterrupted([&] { return ::fsync(fd); }) == 0;
  ::close(fd);
  return failedUnless(synced, FileResult::writeFailed, path);
}

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(50);

// Opens the lock file at `path`, making it when it is missing; -1 with errno
// set on failure, and `owner` set when a file is there that is not this
// user's alone.
int openLockFile(const Folders& folders, const std::string& path, bool* foreign,
                 unsigned* owner) {
  *foreign = false;
  int fd =
      openPath(folders, path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == EEXIST)
    fd = openPath(folders, path, O_RDONLY | O_NOFOLLOW);
  struct stat info;
  if (fd < 0) {
    // A file this user may not open is another user's.
    const int error = errno;
    if ((error == EACCES || error == EPERM) &&
        statPath(folders, path, &info, false) == 0) {
      *foreign = true;
      *owner = info.st_uid;
    }
    errno = error;
    return -1;
  }
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (info.st_uid != ::geteuid()) {
    *foreign = true;
    *owner = info.st_uid;
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      (info.st_mode & 077) != 0) {
    // This user's, but others may have opened it (a copy put back from a
    // backup, say): a new file in its place is one they cannot hold.
    ::close(fd);
    if (unlinkPath(folders, path) != 0) return -1;
    return openPath(folders, path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW,
                    0600);
  }
  return fd;
}

// Whether the lock file open at `fd` is still the one at `path`: a run that
// ended removed the file it held, and a lock on that one keeps nothing apart.
bool isStillThere(const Folders& folders, const std::string& path, int fd) {
  struct stat held;
  struct stat named;
  return ::fstat(fd, &held) == 0 &&
         statPath(folders, path, &named, false) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

JournalError RunLock::take(const Folders& folders, const std::string& path,
                           const LockWait& wait) {
  bool waited = false;
  for (;;) {
    bool foreign = false;
    unsigned owner = 0;
    const int fd = openLockFile(folders, path, &foreign, &owner);
    if (fd < 0) {
      if (foreign)
        return JournalError(Refusal::otherUsersLock, path, userName(owner));
      // A folder that was not reached, or where this user can create no
      // file, holds nothing to keep apart (a run there changes no file it
      // would have to create): the run goes on as the log does, and its
      // first open that fails names the file.
      if (errno == EACCES || errno == EPERM || errno == EROFS)
        return JournalError();
      const int folder = folders.openFolder(folderOf(path), O_PATH);
      if (folder < 0) return JournalError();
      ::close(folder);
      return FileError(FileResult::openFailed, path);
    }
    // Tried, then tried again every little while rather than waited for in
    // the kernel, so that a stop signal ends the wait at once.
    for (;;) {
      if (retryInterrupted([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0)
        break;
      if (errno != EWOULDBLOCK) {
        ::close(fd);
        return FileError(FileResult::openFailed, path);
      }
      if (!waited && wait.onWait) wait.onWait();
      waited = true;
      if (wait.shouldStop && wait.shouldStop()) {
        ::close(fd);
        return JournalError();
      }
      std::this_thread::sleep_for(kLockPoll);
    }
    if (isStillThere(folders, path, fd)) {
      folders_ = &folders;
      path_ = path;
      fd_ = fd;
      return JournalError();
    }
    ::close(fd);
  }
}

RunLock::~RunLock() {
  if (fd_ < 0) return;
  // Removed while held: a run waiting on this file then finds it gone and
  // makes a new one.
  (void)unlinkPath(*folders_, path_);
  ::close(fd_);
}

bool isLockHeld(const Folders& folders, const std::string& path) {
  const int fd = openPath(folders, path, O_RDONLY | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held =
      retryInterrupted([&] { return ::flock(fd, LOCK_SH | LOCK_NB); }) != 0 &&
      errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

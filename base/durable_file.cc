#include "base/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "base/folder_access.h"

DurableFile::~DurableFile() { close(); }

bool DurableFile::create(const std::string& path, int* error) {
  close();
  // Owner only: the log holds the old bytes of the files it covers.
  fd_ = openPath(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  *error = fd_ >= 0 ? 0 : errno;
  return fd_ >= 0;
}

bool DurableFile::writeAndCut(uint64_t offset, std::string_view bytes) {
  return writeAt(offset, bytes) &&
         ::ftruncate(fd_, static_cast<off_t>(offset + bytes.size())) == 0;
}

bool DurableFile::writeAt(uint64_t offset, std::string_view bytes) {
  return fd_ >= 0 && writeAll(fd_, bytes, static_cast<off_t>(offset));
}

bool DurableFile::syncData() {
  return fd_ >= 0 && retryInterrupted([&] { return ::fdatasync(fd_); }) == 0;
}

void DurableFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool fileSystemOf(const std::string& path, uint64_t* device) {
  struct stat info;
  if (statPath(path, &info, true) != 0) return false;
  *device = static_cast<uint64_t>(info.st_dev);
  return true;
}

FileSystems::~FileSystems() {
  for (auto& entry : entries_)
    if (entry.second.fd >= 0) ::close(entry.second.fd);
}

bool FileSystems::note(uint64_t device, const std::string& path) {
  auto found = entries_.find(device);
  if (found == entries_.end()) {
    Entry entry;
    entry.fd = openPath(path, O_RDONLY);
    if (entry.fd < 0)
      entry.fd = openPath(folderOf(path), O_RDONLY | O_DIRECTORY);
    if (entry.fd < 0) return false;
    found = entries_.emplace(device, entry).first;
  }
  found->second.changed = true;
  return true;
}

bool FileSystems::noteFileOf(const std::string& path) {
  uint64_t device = 0;
  if (fileSystemOf(path, &device)) return note(device, path);
  // Removed: its folder is on the same file system.
  const std::string folder = folderOf(path);
  return fileSystemOf(folder, &device) && note(device, folder);
}

bool FileSystems::syncChanged() {
  for (auto& entry : entries_) {
    if (!entry.second.changed) continue;
    if (retryInterrupted([&] { return ::syncfs(entry.second.fd); }) != 0)
      return false;
    entry.second.changed = false;
  }
  return true;
}

bool syncDirectory(const std::string& path) {
  const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool synced = retryInterrupted([&] { return ::fsync(fd); }) == 0;
  ::close(fd);
  return synced;
}

DirectoryLock::DirectoryLock(const std::string& path, bool wait) {
  const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  const int how = wait ? LOCK_EX : LOCK_EX | LOCK_NB;
  if (retryInterrupted([&] { return ::flock(fd, how); }) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

#include "base/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool holdsZeroByte(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Opens `path`, retrying an interrupted open; never opens the prefix before a
// zero byte of the path.
int openPath(const std::string& path, int flags) {
  if (holdsZeroByte(path)) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int openForWriting(const std::string& path, int flags) {
  return openPath(path, O_WRONLY | O_CREAT | flags);
}

// Writes all of `bytes`, looping over short writes.
bool writeAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The size of a regular file, or -1 for anything else.
off_t regularFileSize(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

// Cuts the file open at `fd` back to `size` when it is longer. The size was
// measured before the write: whatever did or did not land, nothing that was
// there before is removed.
void cutBackTo(int fd, unsigned long long size) {
  const off_t now = regularFileSize(fd);
  if (now < 0 || static_cast<unsigned long long>(now) <= size) return;
  (void)::ftruncate(fd, static_cast<off_t>(size));
}

// Opens for appending without creating; when nothing is there, creates the
// file exclusively, so that `created` is known for certain.
int openForAppending(const std::string& path, bool* created) {
  *created = false;
  for (;;) {
    const int fd = openPath(path, O_WRONLY | O_APPEND);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int made = openForWriting(path, O_APPEND | O_EXCL);
    if (made >= 0 || errno != EEXIST) {
      *created = made >= 0;
      return made;
    }
  }
}

// Makes the empty file at `fd` `size` zero bytes long. Reserving the space
// reads back exactly as written zeros but writes no data, which on a disk is
// most of the time of a large conversion; only a file system that cannot
// reserve gets the zeros written.
bool reserveZeros(int fd, std::size_t size) {
  int result;
  do {
    result = ::fallocate(fd, 0, 0, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  return writeAll(fd, std::string(size, '\0'));
}

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

}  // namespace

FileReader::FileReader(const std::string& path, bool followLinks) {
  const int fd = openPath(path, followLinks ? O_RDONLY : O_RDONLY | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  isRegular_ = S_ISREG(info.st_mode);
  size_ = isRegular_ ? static_cast<unsigned long long>(info.st_size) : 0;
  mode_ = info.st_mode & 07777;
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileReader::read(char* buffer, std::size_t capacity) {
  if (fd_ < 0) return 0;
  if (!isRegular_ && bytesRead_ + capacity > kNonRegularReadLimit) {
    capacity = static_cast<std::size_t>(kNonRegularReadLimit - bytesRead_);
  }
  std::size_t done = 0;
  while (done < capacity) {
    const ssize_t n = ::read(fd_, buffer + done, capacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed_ = true;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytesRead_ += done;
  return done;
}

namespace {

// Reads what is left of an open file into `contents`.
FileResult readAll(FileReader* reader, std::string* contents) {
  // The size is a hint only: the loop reads to the end whatever it is.
  std::size_t chunk = 1 << 16;
  if (reader->size() > 0 && reader->size() < (1ull << 40)) {
    // The whole file and one byte more in one piece: no 64 KiB of zeros per
    // counter read, and no copy of a large index for the byte that shows its
    // end.
    chunk = static_cast<std::size_t>(reader->size()) + 1;
    contents->reserve(chunk);
  }
  for (;;) {
    const std::size_t before = contents->size();
    contents->resize(before + chunk);
    const std::size_t n = reader->read(&(*contents)[before], chunk);
    contents->resize(before + n);
    if (n < chunk) break;
    chunk = 1 << 16;  // the file grew since it was measured: go on in steps
  }
  return reader->hasFailed() ? FileResult::readFailed : FileResult::ok;
}

}  // namespace

FileResult readWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  FileReader reader(path);
  if (!reader.isOpen()) return FileResult::openFailed;
  return readAll(&reader, contents);
}

FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler,
                       std::optional<unsigned long long> knownSize,
                       AppendOutcome* outcome) {
  bool created = false;
  const int fd = openForAppending(path, &created);
  if (fd < 0) return FileResult::openFailed;
  if (created) knownSize = 0;
  if (!knownSize) {
    // Without its size the append could be neither aligned nor undone. A
    // device or a pipe counts as empty: nothing of it can be cut back.
    struct stat info;
    if (::fstat(fd, &info) != 0) {
      ::close(fd);
      return FileResult::openFailed;
    }
    knownSize = S_ISREG(info.st_mode)
                    ? static_cast<unsigned long long>(info.st_size)
                    : 0;
  }
  outcome->sizeBefore = *knownSize;
  outcome->created = created;
  std::string padded;
  std::string_view bytes = block;
  const std::size_t partial =
      filler.empty() ? 0 : static_cast<std::size_t>(*knownSize % filler.size());
  if (partial != 0) {
    padded.append(filler.substr(partial)).append(block);
    bytes = padded;
  }
  outcome->sizeAfter = *knownSize + bytes.size();
  const bool written = writeAll(fd, bytes);
  // A partial record would shift every later record: cut the file back.
  if (!written) cutBackTo(fd, *knownSize);
  const bool closed = closeChecked(fd);
  if (written && !closed) {
    // The close reported a lost write: the bytes may not all be there. Take
    // out whatever of them did land.
    truncateFileTo(path, *knownSize);
  }
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult appendBytes(const std::string& path, std::string_view bytes) {
  AppendOutcome outcome;
  return appendBlock(path, bytes, std::string_view(), std::nullopt, &outcome);
}

void truncateFileTo(const std::string& path, unsigned long long size) {
  // Follows a symbolic link as the append did.
  const int fd = openPath(path, O_WRONLY);
  if (fd < 0) return;
  cutBackTo(fd, size);
  ::close(fd);
}

void removeFile(const std::string& path) {
  if (!holdsZeroByte(path)) (void)::unlink(path.c_str());
}

FileResult rewriteFile(const std::string& path, std::string_view bytes,
                       unsigned long long sizeBefore) {
  const int fd = openForWriting(path, 0);
  if (fd < 0) return FileResult::openFailed;
  bool written = writeAll(fd, bytes);
  if (written && sizeBefore > bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult restoreFile(const std::string& path, const ReplacedFile& old) {
  const int fd = openForWriting(path, O_TRUNC | O_NOFOLLOW);
  if (fd < 0) return FileResult::openFailed;
  const bool written = writeAll(fd, old.bytes);
  (void)::fchmod(fd, static_cast<mode_t>(old.mode));
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult createZeroFile(const std::string& path, std::size_t size,
                          ReplacedFile* replaced) {
  replaced->existed = false;
  replaced->bytes.clear();
  int fd = openForWriting(path, O_EXCL | O_NOFOLLOW);
  if (fd < 0 && errno == EEXIST) {
    // Keep what is there, so that a failed trade can put it back.
    {
      FileReader old(path, /*followLinks=*/false);
      if (!old.isOpen()) return FileResult::openFailed;
      std::string bytes;
      const FileResult read = readAll(&old, &bytes);
      if (read != FileResult::ok) return read;
      replaced->bytes = std::move(bytes);
      replaced->mode = old.mode();
    }
    fd = openForWriting(path, O_TRUNC | O_NOFOLLOW);
    replaced->existed = fd >= 0;
  }
  if (fd < 0) return FileResult::openFailed;
  const bool written = reserveZeros(fd, size);
  // Through the descriptor that made the file: exactly this file, with no
  // path to look up again (and no /proc, which a chroot may lack).
  (void)::fchmod(fd, 0777);
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

bool createEmptyFileMode0777(const std::string& path) {
  const int fd = openForWriting(path, O_TRUNC | O_NOFOLLOW);
  if (fd < 0) return false;
  // Through the descriptor just opened: exactly this file, in one call.
  const bool opened = ::fchmod(fd, 0777) == 0;
  return closeChecked(fd) && opened;
}

DirectoryLock::DirectoryLock(const std::string& path) {
  const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

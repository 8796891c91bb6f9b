#include "base/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Calls interrupted by a signal are repeated, but not for ever: the handlers
// the program installs restart calls, so an interruption is rare, and a run
// must end in bounded time whatever happens.
constexpr int kMaxInterruptions = 64;

template <typename Call>
auto retryInterrupted(Call call) -> decltype(call()) {
  decltype(call()) result = call();
  for (int i = 0; i < kMaxInterruptions && result < 0 && errno == EINTR; ++i)
    result = call();
  return result;
}

bool holdsZeroByte(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Opens `path`; never opens the prefix before a zero byte of the path. Never
// waits: a FIFO opens (or fails) at once, instead of waiting for a writer or a
// reader that may never come.
int openPath(const std::string& path, int flags) {
  if (holdsZeroByte(path)) return -1;
  return retryInterrupted([&] {
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  });
}

int openForWriting(const std::string& path, int flags) {
  return openPath(path, O_WRONLY | O_CREAT | flags);
}

// Keeps `fd` when it is a regular file, filling `info`; closes it and returns
// -1 otherwise. A FIFO, a socket or a device where a file of the installation
// belongs is a file that will not open: reading or writing it could block,
// never end, or reach something else entirely.
int keepIfRegular(int fd, struct stat* info) {
  if (fd < 0) return fd;
  if (::fstat(fd, info) == 0 && S_ISREG(info->st_mode)) return fd;
  ::close(fd);
  return -1;
}

// Writes all of `bytes`, looping over short writes.
bool writeAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = retryInterrupted(
        [&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
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
bool cutBackTo(int fd, unsigned long long size) {
  const off_t now = regularFileSize(fd);
  if (now < 0) return false;
  if (static_cast<unsigned long long>(now) <= size) return true;
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// How often an append looks again when the file was not there for a plain open
// but was there for the exclusive create.
constexpr int kAppendOpenAttempts = 3;

// Opens a regular file for appending without creating it; when nothing is
// there, creates it exclusively, so that `created` is known for certain. A
// dangling symbolic link is neither opened nor created through: it fails, like
// anything that is not a regular file.
int openForAppending(const std::string& path, bool* created,
                     struct stat* info) {
  *created = false;
  for (int attempt = 0; attempt < kAppendOpenAttempts; ++attempt) {
    const int fd = openPath(path, O_WRONLY | O_APPEND);
    if (fd >= 0) return keepIfRegular(fd, info);
    if (errno != ENOENT) return -1;
    const int made = openForWriting(path, O_APPEND | O_EXCL);
    if (made >= 0) {
      *created = true;
      return made;
    }
    // EEXIST after ENOENT: a dangling link, or a file that came between the
    // two opens. Look once more, then give up.
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Makes the empty file at `fd` `size` zero bytes long. Reserving the space
// reads back exactly as written zeros but writes no data, which on a disk is
// most of the time of a large conversion; only a file system that cannot
// reserve gets the zeros written.
bool reserveZeros(int fd, std::size_t size) {
  const int result = retryInterrupted(
      [&] { return ::fallocate(fd, 0, 0, static_cast<off_t>(size)); });
  if (result == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  return writeAll(fd, std::string(size, '\0'));
}

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

}  // namespace

FileReader::FileReader(const std::string& path, bool followLinks) {
  struct stat info;
  fd_ = keepIfRegular(
      openPath(path, followLinks ? O_RDONLY : O_RDONLY | O_NOFOLLOW), &info);
  if (fd_ < 0) return;
  size_ = static_cast<unsigned long long>(info.st_size);
  mode_ = info.st_mode & 07777;
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileReader::read(char* buffer, std::size_t capacity) {
  if (fd_ < 0) return 0;
  std::size_t done = 0;
  while (done < capacity) {
    const ssize_t n = retryInterrupted(
        [&] { return ::read(fd_, buffer + done, capacity - done); });
    if (n < 0) failed_ = true;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
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
                       std::string_view filler, AppendOutcome* outcome) {
  bool created = false;
  struct stat info;
  const int fd = openForAppending(path, &created, &info);
  if (fd < 0) return FileResult::openFailed;
  const unsigned long long sizeBefore =
      created ? 0 : static_cast<unsigned long long>(info.st_size);
  outcome->sizeBefore = sizeBefore;
  outcome->created = created;
  std::string padded;
  std::string_view bytes = block;
  const std::size_t partial =
      filler.empty() ? 0 : static_cast<std::size_t>(sizeBefore % filler.size());
  if (partial != 0) {
    padded.append(filler.substr(partial)).append(block);
    bytes = padded;
  }
  const bool written = writeAll(fd, bytes);
  // A partial record would shift every later record: cut the file back.
  if (!written) (void)cutBackTo(fd, sizeBefore);
  const bool closed = closeChecked(fd);
  if (written && !closed) {
    // The close reported a lost write: the bytes may not all be there. Take
    // out whatever of them did land.
    (void)truncateFileTo(path, sizeBefore);
  }
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult appendBytes(const std::string& path, std::string_view bytes) {
  AppendOutcome outcome;
  return appendBlock(path, bytes, std::string_view(), &outcome);
}

FileResult truncateFileTo(const std::string& path, unsigned long long size) {
  // Follows a symbolic link as the append did.
  struct stat info;
  const int fd = keepIfRegular(openPath(path, O_WRONLY), &info);
  if (fd < 0) return FileResult::openFailed;
  const bool cut = cutBackTo(fd, size);
  const bool closed = closeChecked(fd);
  return cut && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult removeFile(const std::string& path) {
  if (holdsZeroByte(path)) return FileResult::openFailed;
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return FileResult::ok;
  return FileResult::writeFailed;
}

FileResult rewriteFile(const std::string& path, std::string_view bytes,
                       unsigned long long sizeBefore) {
  // The file was there to be read: a missing one is not made anew.
  struct stat info;
  const int fd = keepIfRegular(openPath(path, O_WRONLY), &info);
  if (fd < 0) return FileResult::openFailed;
  bool written = writeAll(fd, bytes);
  if (written && sizeBefore > bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult restoreFile(const std::string& path, const ReplacedFile& old) {
  struct stat info;
  const int fd =
      keepIfRegular(openForWriting(path, O_TRUNC | O_NOFOLLOW), &info);
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
    struct stat info;
    fd = keepIfRegular(openForWriting(path, O_TRUNC | O_NOFOLLOW), &info);
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
  struct stat info;
  const int fd =
      keepIfRegular(openForWriting(path, O_TRUNC | O_NOFOLLOW), &info);
  if (fd < 0) return false;
  // Through the descriptor just opened: exactly this file, in one call.
  const bool opened = ::fchmod(fd, 0777) == 0;
  return closeChecked(fd) && opened;
}

DirectoryLock::DirectoryLock(const std::string& path) {
  const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  if (retryInterrupted([&] { return ::flock(fd, LOCK_EX); }) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

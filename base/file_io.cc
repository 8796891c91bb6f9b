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
  if (holdsZeroByte(path)) {
    errno = EINVAL;
    return -1;
  }
  return retryInterrupted([&] {
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  });
}

// Keeps `fd` when it is a regular file, filling `info`; closes it and returns
// -1 otherwise. Reading or writing anything else could block, never end, or
// reach something else entirely.
int keepIfRegular(int fd, struct stat* info) {
  if (fd < 0) return fd;
  if (::fstat(fd, info) == 0 && S_ISREG(info->st_mode)) return fd;
  ::close(fd);
  errno = EINVAL;
  return -1;
}

// Writes all of `bytes` at `offset`, or at the end with O_APPEND when `offset`
// is negative, looping over short writes.
bool writeAll(int fd, std::string_view bytes, off_t offset = -1) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = retryInterrupted([&] {
      const char* from = bytes.data() + done;
      const std::size_t count = bytes.size() - done;
      return offset < 0
                 ? ::write(fd, from, count)
                 : ::pwrite(fd, from, count, offset + static_cast<off_t>(done));
    });
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to `capacity` bytes. A short count is the end of the file: a
// regular file returns less than asked only there. -1 on a read error.
ssize_t readSome(int fd, char* buffer, std::size_t capacity) {
  std::size_t done = 0;
  while (done < capacity) {
    const ssize_t n = retryInterrupted(
        [&] { return ::read(fd, buffer + done, capacity - done); });
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) < capacity) break;
  }
  return static_cast<ssize_t>(done);
}

// Reads the rest of the file into `contents`. `sizeHint` is what the file held
// when it was opened: the whole of it and one byte more come in one read, and
// a file that grew, or whose size says nothing (a /proc file), is read on to
// its end in steps.
bool readToEnd(int fd, uint64_t sizeHint, std::string* contents) {
  std::size_t chunk = 1 << 16;
  if (sizeHint > 0 && sizeHint < (uint64_t{1} << 40)) {
    chunk = static_cast<std::size_t>(sizeHint) + 1;
    contents->reserve(contents->size() + chunk);
  }
  for (;;) {
    const std::size_t before = contents->size();
    contents->resize(before + chunk);
    const ssize_t n = readSome(fd, &(*contents)[before], chunk);
    contents->resize(before + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < chunk) return true;
    chunk = 1 << 16;
  }
}

// Cuts the file open at `fd` back to `size` when it is longer. The size was
// measured before the write: whatever did or did not land, nothing that was
// there before is removed.
bool cutBackTo(int fd, uint64_t size) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<uint64_t>(info.st_size) <= size) return true;
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// How often an append looks again when the file was not there for a plain open
// but was there for the exclusive create.
constexpr int kAppendOpenAttempts = 3;

// Opens a regular file for appending without creating it; when nothing is
// there, creates it exclusively, so that `created` is known for certain. A
// dangling symbolic link is neither opened nor created through.
int openForAppending(const std::string& path, bool* created,
                     struct stat* info) {
  *created = false;
  for (int attempt = 0; attempt < kAppendOpenAttempts; ++attempt) {
    const int fd = openPath(path, O_WRONLY | O_APPEND);
    if (fd >= 0) return keepIfRegular(fd, info);
    if (errno != ENOENT) return -1;
    const int made = openPath(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
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

// Creates `path` exclusively, never through a symbolic link: -1 with EEXIST
// when something is there.
int createExclusive(const std::string& path, int flags) {
  return openPath(path, flags | O_CREAT | O_EXCL | O_NOFOLLOW);
}

// Opens the regular file that is at `path` (not through a link) for reading
// and writing, and reads it whole into `old`.
int openReplaced(const std::string& path, ReplacedFile* old, FileResult* why) {
  struct stat info;
  const int fd = keepIfRegular(openPath(path, O_RDWR | O_NOFOLLOW), &info);
  if (fd < 0) {
    *why = FileResult::openFailed;
    return -1;
  }
  old->existed = true;
  old->mode = info.st_mode & 07777;
  old->bytes.clear();
  if (!readToEnd(fd, static_cast<uint64_t>(info.st_size), &old->bytes)) {
    ::close(fd);
    *why = FileResult::readFailed;
    return -1;
  }
  return fd;
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
  return writeAll(fd, std::string(size, '\0'), 0);
}

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

}  // namespace

FileReader::FileReader(const std::string& path, bool followLinks)
    : FileReader(path, followLinks ? O_RDONLY : O_RDONLY | O_NOFOLLOW) {}

FileReader::FileReader(const std::string& path, int flags) {
  struct stat info;
  fd_ = keepIfRegular(openPath(path, flags), &info);
  if (fd_ < 0) return;
  size_ = static_cast<uint64_t>(info.st_size);
  mode_ = info.st_mode & 07777;
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileReader::read(char* buffer, std::size_t capacity) {
  if (fd_ < 0) return 0;
  const ssize_t n = readSome(fd_, buffer, capacity);
  if (n < 0) failed_ = true;
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

FileResult FileReader::readAll(std::string* contents) {
  contents->clear();
  if (fd_ < 0) return FileResult::openFailed;
  if (!readToEnd(fd_, size_, contents)) failed_ = true;
  return failed_ ? FileResult::readFailed : FileResult::ok;
}

int FileReader::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

FileResult readWholeFile(const std::string& path, std::string* contents,
                         bool followLinks) {
  contents->clear();
  FileReader reader(path, followLinks);
  if (!reader.isOpen()) return FileResult::openFailed;
  return reader.readAll(contents);
}

namespace {

// Appends `bytes` through `fd`, opened for appending to a file of
// `sizeBefore` bytes at `path`, and closes it.
FileResult appendAndClose(int fd, const std::string& path,
                          std::string_view bytes, uint64_t sizeBefore) {
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

}  // namespace

FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler, AppendOutcome* outcome) {
  bool created = false;
  struct stat info;
  const int fd = openForAppending(path, &created, &info);
  if (fd < 0) return FileResult::openFailed;
  const uint64_t sizeBefore = created ? 0 : static_cast<uint64_t>(info.st_size);
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
  return appendAndClose(fd, path, bytes, sizeBefore);
}

AppendableFile::AppendableFile(const std::string& path)
    : FileReader(path, O_RDWR | O_APPEND), path_(path) {}

FileResult AppendableFile::appendAndClose(std::string_view block) {
  if (!isOpen()) return FileResult::openFailed;
  const uint64_t sizeBefore = size();
  return ::appendAndClose(release(), path_, block, sizeBefore);
}

RewritableFile::RewritableFile(const std::string& path)
    : FileReader(path, O_RDWR) {}

FileResult RewritableFile::rewriteAndClose(std::string_view bytes,
                                           uint64_t sizeBefore) {
  if (!isOpen()) return FileResult::openFailed;
  const int fd = release();
  // Never emptied first: a rewrite of the same length makes no page of the
  // file anew, where emptying a small file for every trade costs a page
  // written to the disk per trade.
  bool written = writeAll(fd, bytes, 0);
  if (written && sizeBefore > bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult createZeroFile(const std::string& path, std::size_t size,
                          const KeepReplaced& keep, ReplacedFile* replaced) {
  *replaced = ReplacedFile();
  int fd = createExclusive(path, O_WRONLY);
  if (fd < 0 && errno == EEXIST) {
    FileResult why = FileResult::ok;
    fd = openReplaced(path, replaced, &why);
    if (fd < 0) return why;
    keep(*replaced);
    if (::ftruncate(fd, 0) != 0) {
      ::close(fd);
      return FileResult::writeFailed;
    }
  }
  if (fd < 0) return FileResult::openFailed;
  const bool written = reserveZeros(fd, size);
  // Through the descriptor that made the file: exactly this file, with no
  // path to look up again (and no /proc, which a chroot may lack).
  (void)::fchmod(fd, 0777);
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

bool createEmptyFileMode0777(const std::string& path,
                             const KeepReplaced& keep) {
  int fd = createExclusive(path, O_WRONLY);
  if (fd < 0 && errno == EEXIST) {
    ReplacedFile old;
    FileResult why = FileResult::ok;
    fd = openReplaced(path, &old, &why);
    if (fd < 0) return false;
    if (!old.bytes.empty()) {
      keep(old);
      if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
      }
    }
  }
  if (fd < 0) return false;
  // Through the descriptor just opened: exactly this file, in one call.
  const bool opened = ::fchmod(fd, 0777) == 0;
  return closeChecked(fd) && opened;
}

FileResult putBackFile(const std::string& path, std::string_view bytes,
                       bool followLinks, bool restoreMode, unsigned mode) {
  struct stat info;
  const int fd = keepIfRegular(
      openPath(path, O_WRONLY | O_CREAT | (followLinks ? 0 : O_NOFOLLOW)),
      &info);
  if (fd < 0) return FileResult::openFailed;
  bool written = writeAll(fd, bytes, 0);
  if (written && static_cast<uint64_t>(info.st_size) != bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  if (written && restoreMode)
    written = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult truncateFileTo(const std::string& path, uint64_t size) {
  // Follows a symbolic link as the append did.
  struct stat info;
  const int fd = keepIfRegular(openPath(path, O_WRONLY), &info);
  if (fd < 0) return errno == ENOENT ? FileResult::ok : FileResult::openFailed;
  const bool cut = cutBackTo(fd, size);
  const bool closed = closeChecked(fd);
  return cut && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult removeFile(const std::string& path) {
  if (holdsZeroByte(path)) return FileResult::openFailed;
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return FileResult::ok;
  return FileResult::writeFailed;
}

bool readPathState(const std::string& path, PathState* state) {
  *state = PathState();
  if (holdsZeroByte(path)) return true;  // no file can be there
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  // A link is taken for what it leads to, as an append follows it.
  if (S_ISLNK(info.st_mode) && ::stat(path.c_str(), &info) != 0) {
    state->kind = PathState::Kind::other;
    return true;
  }
  state->kind =
      S_ISREG(info.st_mode) ? PathState::Kind::regular : PathState::Kind::other;
  state->size = static_cast<uint64_t>(info.st_size);
  return true;
}

DurableFile::~DurableFile() { close(); }

bool DurableFile::open(const std::string& path, bool* created) {
  close();
  *created = false;
  fd_ = createExclusive(path, O_RDWR);
  if (fd_ >= 0) {
    *created = true;
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat info;
  fd_ = keepIfRegular(openPath(path, O_RDWR | O_NOFOLLOW), &info);
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

bool DurableFile::syncFileSystem() {
  return fd_ >= 0 && retryInterrupted([&] { return ::syncfs(fd_); }) == 0;
}

void DurableFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool syncDirectory(const std::string& path) {
  const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool synced = retryInterrupted([&] { return ::fsync(fd); }) == 0;
  ::close(fd);
  return synced;
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

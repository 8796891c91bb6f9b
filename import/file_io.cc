#include "import/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#if !defined(SYS_fchmodat2) && (defined(__x86_64__) || defined(__aarch64__))
#define SYS_fchmodat2 452  // Linux 6.6; the headers of older systems lack it
#endif

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

// Writes all of `bytes`; `done` tells how many reached the file either way.
bool writeAll(int fd, std::string_view bytes, std::size_t* done) {
  *done = 0;
  while (*done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + *done, bytes.size() - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *done += static_cast<std::size_t>(n);
  }
  return true;
}

// The size of a regular file, or -1 for anything else.
off_t regularFileSize(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

// Cuts an append of `appended` bytes off again; the file's size is taken now,
// so that a successful append costs no call to learn it.
void cutBackAppend(int fd, std::size_t appended) {
  const off_t size = regularFileSize(fd);
  if (size < 0 || static_cast<std::size_t>(size) < appended) return;
  (void)::ftruncate(fd, size - static_cast<off_t>(appended));
}

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

// Opens with `flags` (O_TRUNC creates or empties the file) and writes `bytes`.
FileResult writeWholeFile(const std::string& path, int flags,
                          std::string_view bytes) {
  const int fd = openForWriting(path, flags);
  if (fd < 0) return FileResult::openFailed;
  std::size_t done = 0;
  const bool written = writeAll(fd, bytes, &done);
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

}  // namespace

FileReader::FileReader(const std::string& path) {
  const int fd = openPath(path, O_RDONLY);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  isRegular_ = S_ISREG(info.st_mode);
  size_ = isRegular_ ? static_cast<unsigned long long>(info.st_size) : 0;
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
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytesRead_ += done;
  return done;
}

FileResult readWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  FileReader reader(path);
  if (!reader.isOpen()) return FileResult::openFailed;
  // The size is a hint only: the loop reads to the end whatever it is.
  std::size_t chunk = 1 << 16;
  if (reader.size() > 0 && reader.size() < (1ull << 40)) {
    // The whole file and one byte more in one piece: no 64 KiB of zeros per
    // counter read, and no copy of a large index for the byte that shows its
    // end.
    chunk = static_cast<std::size_t>(reader.size()) + 1;
    contents->reserve(chunk);
  }
  for (;;) {
    const std::size_t before = contents->size();
    contents->resize(before + chunk);
    const std::size_t n = reader.read(&(*contents)[before], chunk);
    contents->resize(before + n);
    if (n < chunk) break;
    chunk = 1 << 16;  // the file grew since it was measured: go on in steps
  }
  return FileResult::ok;
}

FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler) {
  const int fd = openForWriting(path, O_APPEND);
  if (fd < 0) return FileResult::openFailed;
  std::string padded;
  std::string_view bytes = block;
  if (!filler.empty()) {
    const off_t size = regularFileSize(fd);
    const std::size_t partial =
        size > 0 ? static_cast<std::size_t>(size) % filler.size() : 0;
    if (partial != 0) {
      padded.append(filler.substr(partial)).append(block);
      bytes = padded;
    }
  }
  std::size_t done = 0;
  const bool written = writeAll(fd, bytes, &done);
  // A partial record would shift every later record: cut the file back.
  if (!written) cutBackAppend(fd, done);
  const bool closed = closeChecked(fd);
  if (written && !closed) {
    // The close reported a lost write: the bytes may not all be there. Take
    // them out again.
    const int again = openForWriting(path, O_APPEND);
    if (again >= 0) {
      cutBackAppend(again, bytes.size());
      ::close(again);
    }
  }
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult appendBytes(const std::string& path, std::string_view bytes) {
  return appendBlock(path, bytes, std::string_view());
}

FileResult replaceFileContents(const std::string& path,
                               std::string_view bytes) {
  return writeWholeFile(path, O_TRUNC, bytes);
}

FileResult createFileWithContents(const std::string& path,
                                  std::string_view bytes) {
  return writeWholeFile(path, O_TRUNC | O_NOFOLLOW, bytes);
}

bool createOpenEmptyFile(const std::string& path) {
  const int fd = openForWriting(path, O_TRUNC | O_NOFOLLOW);
  if (fd < 0) return false;
  // Through the descriptor just opened: exactly this file, in one call.
  const bool opened = ::fchmod(fd, 0777) == 0;
  return closeChecked(fd) && opened;
}

bool setOpenPermissions(const std::string& path) {
  if (holdsZeroByte(path)) return false;
    // Refuses a symbolic link rather than changing the mode of whatever it
    // points to. Linux 6.6 and later do that in one call; the C library's
    // emulation for older kernels takes four (open, stat, chmod through /proc,
    // close).
#ifdef SYS_fchmodat2
  if (::syscall(SYS_fchmodat2, AT_FDCWD, path.c_str(), 0777,
                AT_SYMLINK_NOFOLLOW) == 0)
    return true;
  if (errno == EOPNOTSUPP) return false;  // a symbolic link
#endif
  return ::fchmodat(AT_FDCWD, path.c_str(), 0777, AT_SYMLINK_NOFOLLOW) == 0;
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

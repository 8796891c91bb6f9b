#include "import/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool holdsZeroByte(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Opens for writing; never opens the prefix before a zero byte of the path.
int openForWriting(const std::string& path, int flags) {
  if (holdsZeroByte(path)) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

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

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

}  // namespace

FileReader::FileReader(const std::string& path) {
  if (holdsZeroByte(path)) return;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  size_ =
      S_ISREG(info.st_mode) ? static_cast<unsigned long long>(info.st_size) : 0;
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
    contents->reserve(static_cast<std::size_t>(reader.size()) + 1);
  }
  for (;;) {
    const std::size_t before = contents->size();
    contents->resize(before + chunk);
    const std::size_t n = reader.read(&(*contents)[before], chunk);
    contents->resize(before + n);
    if (n < chunk) break;
  }
  return FileResult::ok;
}

FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler) {
  const int fd = openForWriting(path, O_APPEND);
  if (fd < 0) return FileResult::openFailed;
  struct stat info;
  const bool knowsSize = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  std::string bytes;
  if (knowsSize && !filler.empty()) {
    const std::size_t partial =
        static_cast<std::size_t>(info.st_size) % filler.size();
    if (partial != 0) bytes.append(filler.substr(partial));
  }
  bytes.append(block);
  const bool written = writeAll(fd, bytes);
  if (!written && knowsSize) {
    // A partial record would shift every later record: cut the file back.
    (void)::ftruncate(fd, info.st_size);
  }
  const bool closed = closeChecked(fd);
  if (written && !closed && knowsSize) {
    // The close reported a lost write: the bytes may not all be there. Take
    // them out again.
    const int again = openForWriting(path, 0);
    if (again >= 0) {
      (void)::ftruncate(again, info.st_size);
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
  const int fd = openForWriting(path, O_TRUNC);
  if (fd < 0) return FileResult::openFailed;
  const bool written = writeAll(fd, bytes);
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

FileResult createFileWithContents(const std::string& path,
                                  std::string_view bytes) {
  const int fd = openForWriting(path, O_TRUNC | O_NOFOLLOW);
  if (fd < 0) return FileResult::openFailed;
  const bool written = writeAll(fd, bytes);
  const bool closed = closeChecked(fd);
  return written && closed ? FileResult::ok : FileResult::writeFailed;
}

bool createEmptyFile(const std::string& path) {
  return createFileWithContents(path, std::string_view()) == FileResult::ok;
}

bool setOpenPermissions(const std::string& path) {
  if (holdsZeroByte(path)) return false;
  // Refuses a symbolic link rather than changing the mode of whatever it points
  // to.
  return ::fchmodat(AT_FDCWD, path.c_str(), 0777, AT_SYMLINK_NOFOLLOW) == 0;
}

DirectoryLock::DirectoryLock(const std::string& path) {
  if (holdsZeroByte(path)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

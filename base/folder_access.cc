#include "base/folder_access.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// The folders a PinnedFolders object opened, by their path as given.
struct PinnedFolder {
  std::string path;
  int fd;         // -1 when the folder could not be opened
  int openError;  // why, then
};
std::vector<PinnedFolder>& pinnedFolders() {
  static std::vector<PinnedFolder> folders;
  return folders;
}

// Where `path` is reached from: the pinned folder that holds it (`*at` gets
// that folder's descriptor and `*name` the name in it), or the current folder
// with the path itself. False with errno set when it lies in a pinned folder
// that did not open, or holds a zero byte (`zeroByteError` then).
bool locate(const std::string& path, int zeroByteError, int* at,
            const char** name) {
  if (path.find('\0') != std::string::npos) {
    errno = zeroByteError;
    return false;
  }
  *at = AT_FDCWD;
  *name = path.c_str();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return true;
  for (const PinnedFolder& folder : pinnedFolders()) {
    if (folder.path.size() != slash || path.compare(0, slash, folder.path) != 0)
      continue;
    if (folder.fd < 0) {
      errno = folder.openError;
      return false;
    }
    *at = folder.fd;
    *name = path.c_str() + slash + 1;
    return true;
  }
  return true;
}

// The descriptor of the pinned folder `path` itself, or -1.
int pinnedFolderItself(const std::string& path) {
  for (const PinnedFolder& folder : pinnedFolders())
    if (folder.path == path) return folder.fd;
  return -1;
}

}  // namespace

bool holdsZeroByte(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Opens `path`; never opens the prefix before a zero byte of the path. Never
// waits: a FIFO opens (or fails) at once, instead of waiting for a writer or a
// reader that may never come.
int openPath(const std::string& path, int flags, mode_t mode) {
  const int pinned = pinnedFolderItself(path);
  if (pinned >= 0)
    return ::openat(pinned, ".", (flags & ~O_CREAT) | O_CLOEXEC | O_NONBLOCK);
  int at = AT_FDCWD;
  const char* name = nullptr;
  if (!locate(path, EINVAL, &at, &name)) return -1;
  return retryInterrupted(
      [&] { return ::openat(at, name, flags | O_CLOEXEC | O_NONBLOCK, mode); });
}

// stat(2) or lstat(2) of `path`, through its pinned folder.
int statPath(const std::string& path, struct stat* info, bool followLinks) {
  int at = AT_FDCWD;
  const char* name = nullptr;
  if (!locate(path, ENOENT, &at, &name)) return -1;
  return ::fstatat(at, name, info, followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
}

int unlinkPath(const std::string& path) {
  int at = AT_FDCWD;
  const char* name = nullptr;
  if (!locate(path, EINVAL, &at, &name)) return -1;
  return ::unlinkat(at, name, 0);
}

// Writes all of `bytes` at `offset`, or at the end with O_APPEND when `offset`
// is negative, looping over short writes.
bool writeAll(int fd, std::string_view bytes, off_t offset) {
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

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

PinnedFolders::PinnedFolders(const std::vector<std::string>& folders) {
  for (const std::string& path : folders) {
    // Opened through the folders pinned before it, so that the whole chain is
    // the one looked up now.
    const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
    pinnedFolders().push_back(PinnedFolder{path, fd, fd < 0 ? errno : 0});
    ++count_;
  }
}

PinnedFolders::~PinnedFolders() {
  std::vector<PinnedFolder>& all = pinnedFolders();
  for (std::size_t i = 0; i < count_ && !all.empty(); ++i) {
    if (all.back().fd >= 0) ::close(all.back().fd);
    all.pop_back();
  }
}

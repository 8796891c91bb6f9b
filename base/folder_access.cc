#include "base/folder_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <utility>

namespace {

constexpr int kMaxLinks = 40;

// The names of `path` in order; empty ones and "." are left out.
void prependNames(std::string_view path, std::deque<std::string>* names) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    path.remove_prefix(std::min(slash + 1, path.size()));
  }
  names->insert(names->begin(), parts.begin(), parts.end());
}

// A folder that is not there, or that this user may not reach, as opposed to
// a walk that failed on the way.
bool isUnreachable(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES ||
         error == ELOOP || error == ENAMETOOLONG || error == EINVAL;
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

FileResult resultOf(FolderDanger danger) {
  switch (danger) {
    case FolderDanger::otherOwner:
      return FileResult::otherOwner;
    case FolderDanger::othersWrite:
      return FileResult::othersCanChange;
    case FolderDanger::groupWrite:
      return FileResult::groupCanChange;
    case FolderDanger::none:
      break;
  }
  return FileResult::ok;
}

// A walk in progress: the folder reached, as a descriptor and as the path
// that shows it.
struct Walk {
  int fd = -1;
  std::string shown;
  ~Walk() {
    if (fd >= 0) ::close(fd);
  }
  void moveTo(int next, std::string nextShown) {
    if (fd >= 0) ::close(fd);
    fd = next;
    shown = std::move(nextShown);
  }
};

}  // namespace

Folders::Folders(FolderTrust trust) : trust_(std::move(trust)) {}

Folders::~Folders() {
  for (const Entry& entry : entries_)
    if (entry.fd >= 0) ::close(entry.fd);
}

Folders::Folders(Folders&& other) noexcept
    : trust_(std::move(other.trust_)), entries_(std::move(other.entries_)) {
  other.entries_.clear();
}

const Folders::Entry* Folders::find(const std::string& path) const {
  std::size_t size = path.size();
  while (size > 1 && path[size - 1] == '/') --size;
  for (const Entry& entry : entries_)
    if (entry.path.size() == size && path.compare(0, size, entry.path) == 0)
      return &entry;
  return nullptr;
}

FileError Folders::add(const std::string& path, FolderRule rule) {
  const bool absolute = !path.empty() && path[0] == '/';
  const int start =
      ::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  return keep(path, start, absolute ? "/" : "", path, rule);
}

FileError Folders::addWithin(const std::string& from, const std::string& name,
                             const std::string& path, FolderRule rule) {
  const Entry* entry = find(from);
  int start = -1;
  if (entry == nullptr) {
    errno = ENOENT;
  } else if (entry->fd < 0) {
    errno = entry->openError;
  } else {
    start = ::fcntl(entry->fd, F_DUPFD_CLOEXEC, 0);
  }
  return keep(path, start, from, name, rule);
}

// Walks `walk` from `start` (owned; -1 with errno set when it did not open),
// judging the start and every folder after it, and keeps the folder reached
// as `path`.
FileError Folders::keep(const std::string& path, int start, std::string shown,
                        const std::string& walk, FolderRule rule) {
  std::deque<std::string> names;
  prependNames(walk, &names);
  Walk at;
  at.fd = start;
  at.shown = shown.empty() ? "." : shown;
  int links = 0;
  int error = start < 0 ? errno : 0;
  // A path the system would not open whole names no folder: never the
  // prefix before a zero byte, never a path longer than the system takes.
  if (error == 0 && (holdsZeroByte(path) || holdsZeroByte(walk)))
    error = EINVAL;
  if (error == 0 && path.size() >= PATH_MAX) error = ENAMETOOLONG;
  // `next`, just opened and described by `info`, must be a folder no one
  // else can change before the walk goes into it.
  const auto judge = [&](const struct stat& info, const std::string& seen) {
    const FolderVerdict verdict =
        judgeFolder(info, names.empty() ? rule : FolderRule::onTheWay, trust_);
    return FileError{resultOf(verdict.danger), seen, verdict.who};
  };
  struct stat info;
  if (error == 0) {
    if (::fstat(at.fd, &info) != 0) {
      error = errno;
    } else {
      const FileError refused = judge(info, at.shown);
      if (refused.result != FileResult::ok) return refused;
    }
  }
  while (error == 0 && !names.empty()) {
    const std::string name = names.front();
    names.pop_front();
    const int next =
        ::openat(at.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    const std::string seen = joined(at.shown, name);
    if (next < 0 || ::fstat(next, &info) != 0) {
      error = errno;
      if (next >= 0) ::close(next);
      break;
    }
    if (S_ISLNK(info.st_mode)) {
      // Resolved here, so that every folder the link leads through is judged
      // too; the folder that holds the link already was.
      char target[PATH_MAX];
      const ssize_t n = ::readlinkat(next, "", target, sizeof target);
      ::close(next);
      if (++links > kMaxLinks || n <= 0 ||
          static_cast<std::size_t>(n) >= sizeof target) {
        error = n < 0               ? errno
                : n == 0            ? ENOENT
                : links > kMaxLinks ? ELOOP
                                    : ENAMETOOLONG;
        break;
      }
      const std::string_view to(target, static_cast<std::size_t>(n));
      prependNames(to, &names);
      if (to[0] == '/') {
        const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0 || ::fstat(root, &info) != 0) {
          error = errno;
          if (root >= 0) ::close(root);
          break;
        }
        at.moveTo(root, "/");
        const FileError refused = judge(info, at.shown);
        if (refused.result != FileResult::ok) return refused;
      }
      continue;
    }
    if (!S_ISDIR(info.st_mode)) {
      ::close(next);
      error = ENOTDIR;
      break;
    }
    at.moveTo(next, seen);
    const FileError refused = judge(info, at.shown);
    if (refused.result != FileResult::ok) return refused;
  }
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  if (error != 0 && !isUnreachable(error)) {
    // The walk itself failed (a disk error): nothing is known of the folder,
    // and a run must not go on without it.
    return FileError{FileResult::openFailed, at.shown, std::string()};
  }
  if (error != 0) {
    entries_.push_back(Entry{key, -1, error});
  } else {
    entries_.push_back(Entry{key, at.fd, 0});
    at.fd = -1;
  }
  return FileError();
}

int Folders::locate(const std::string& path, const char** name,
                    int zeroByteError, bool* isFolder) const {
  if (holdsZeroByte(path)) {
    errno = zeroByteError;
    return -1;
  }
  // The folder part ("a/b" of "a/b/c"; "/" of "/c"), compared in place; a
  // bare name or a path ending in "/" lies in none of these folders. With
  // `isFolder`, the path as a whole (without trailing "/") is looked for in
  // the same pass, and wins.
  const std::size_t slash = path.rfind('/');
  const std::size_t size = slash != std::string::npos && slash + 1 < path.size()
                               ? (slash == 0 ? 1 : slash)
                               : std::string::npos;
  std::size_t whole = path.size();
  while (whole > 1 && path[whole - 1] == '/') --whole;
  const Entry* entry = nullptr;
  bool itself = false;
  for (const Entry& candidate : entries_) {
    if (isFolder != nullptr && candidate.path.size() == whole &&
        path.compare(0, whole, candidate.path) == 0) {
      entry = &candidate;
      itself = true;
      break;
    }
    if (entry == nullptr && candidate.path.size() == size &&
        path.compare(0, size, candidate.path) == 0) {
      entry = &candidate;
      if (isFolder == nullptr) break;
    }
  }
  if (isFolder != nullptr) *isFolder = itself;
  if (entry == nullptr || entry->fd < 0) {
    errno = entry == nullptr ? ENOENT : entry->openError;
    return -1;
  }
  *name = itself ? "." : path.c_str() + slash + 1;
  return entry->fd;
}

int Folders::openFolder(const std::string& path, int flags) const {
  const Entry* entry = find(path);
  if (entry == nullptr || entry->fd < 0) {
    errno = entry == nullptr ? ENOENT : entry->openError;
    return -1;
  }
  return retryInterrupted([&] {
    return ::openat(entry->fd, ".", flags | O_DIRECTORY | O_CLOEXEC);
  });
}

bool holdsZeroByte(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Opens `path`; never opens the prefix before a zero byte of the path. Never
// waits: a FIFO opens (or fails) at once, instead of waiting for a writer or a
// reader that may never come.
int openPath(const Folders& folders, const std::string& path, int flags,
             mode_t mode) {
  const char* name = nullptr;
  bool isFolder = false;
  const int at = folders.locate(path, &name, EINVAL, &isFolder);
  if (at < 0) return -1;
  // One of the folders is opened anew through its descriptor, never created.
  if (isFolder) flags = (flags & ~O_CREAT) | O_DIRECTORY;
  return retryInterrupted(
      [&] { return ::openat(at, name, flags | O_CLOEXEC | O_NONBLOCK, mode); });
}

int statPath(const Folders& folders, const std::string& path, struct stat* info,
             bool followLinks) {
  const char* name = nullptr;
  bool isFolder = false;
  const int at = folders.locate(path, &name, ENOENT, &isFolder);
  if (at < 0) return -1;
  if (!isFolder)
    return ::fstatat(at, name, info, followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
  const int fd = retryInterrupted(
      [&] { return ::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return -1;
  const int result = ::fstat(fd, info);
  ::close(fd);
  return result;
}

int unlinkPath(const Folders& folders, const std::string& path) {
  const char* name = nullptr;
  const int at = folders.locate(path, &name, EINVAL);
  if (at < 0) return -1;
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

#include "base/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/folder_access.h"

namespace {

// The opens of the operations that change a file, shared with probeChange.
constexpr int kAppendFlags = O_WRONLY | O_APPEND;
constexpr int kUpdateFlags = O_RDWR;
constexpr int kReplaceFlags = O_RDWR | O_NOFOLLOW;

// Keeps `fd` when it is a regular file, filling `info`; closes it and returns
// -1 otherwise. Reading or writing anything else could block, never end, or
// reach something else entirely. A file opened to be changed must have one
// link: through a second one the change would reach a file elsewhere.
int keepIfRegular(int fd, struct stat* info, bool forChange) {
  if (fd < 0) return fd;
  if (::fstat(fd, info) == 0 && S_ISREG(info->st_mode) &&
      (!forChange || info->st_nlink == 1))
    return fd;
  ::close(fd);
  errno = EINVAL;
  return -1;
}

// Reads up to `capacity` bytes in one call. A short count is the end of the
// file: a regular file returns less than asked only there. -1 on a read
// error.
ssize_t readSome(int fd, char* buffer, std::size_t capacity) {
  return retryInterrupted([&] { return ::read(fd, buffer, capacity); });
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
int openForAppending(const Folders& folders, const std::string& path,
                     bool* created, struct stat* info) {
  *created = false;
  for (int attempt = 0; attempt < kAppendOpenAttempts; ++attempt) {
    const int fd = openPath(folders, path, kAppendFlags);
    if (fd >= 0) return keepIfRegular(fd, info, true);
    if (errno != ENOENT) return -1;
    const int made =
        openPath(folders, path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
    if (made >= 0) {
      *created = true;
      return keepIfRegular(made, info, true);
    }
    // EEXIST after ENOENT: a dangling link, or a file that came between the
    // two opens. Look once more, then give up.
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Creates `path` exclusively, never through a symbolic link: -1 with EEXIST
// when something is there.
int createExclusive(const Folders& folders, const std::string& path,
                    int flags) {
  return openPath(folders, path, flags | O_CREAT | O_EXCL | O_NOFOLLOW);
}

FileIdentity identityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  return identity;
}

// Keeps `fd` (see keepIfRegular) when it is also this user's own file: a
// file that another user left where the run creates one is never taken over.
int keepIfOwnRegular(int fd, struct stat* info) {
  fd = keepIfRegular(fd, info, true);
  if (fd >= 0 && info->st_uid != ::geteuid()) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

// Opens the regular file that is at `path` (not through a link) for reading
// and writing into `*fd`, and reads it whole into `old`.
FileError openReplaced(const Folders& folders, const std::string& path,
                       ReplacedFile* old, int* fd) {
  struct stat info;
  *fd = keepIfOwnRegular(openPath(folders, path, kReplaceFlags), &info);
  // A file too large to keep in the log is left alone, never read whole.
  if (*fd < 0 || static_cast<uint64_t>(info.st_size) > kMaxReplacedBytes) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
    return FileError(FileResult::openFailed, path);
  }
  old->existed = true;
  old->mode = info.st_mode & 0777;  // never a set-id or sticky bit back
  old->identity = identityOf(info);
  old->bytes.clear();
  if (!readToEnd(*fd, static_cast<uint64_t>(info.st_size), &old->bytes)) {
    ::close(*fd);
    *fd = -1;
    return FileError(FileResult::readFailed, path);
  }
  return FileError();
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

}  // namespace

FileReader::FileReader(const Folders& folders, const std::string& path,
                       bool followLinks)
    : FileReader(folders, path,
                 followLinks ? O_RDONLY : O_RDONLY | O_NOFOLLOW) {}

FileReader::FileReader(const Folders& folders, const std::string& path,
                       int flags)
    : path_(path) {
  struct stat info;
  fd_ = keepIfRegular(openPath(folders, path, flags), &info,
                      (flags & O_ACCMODE) != O_RDONLY);
  if (fd_ < 0) return;
  size_ = static_cast<uint64_t>(info.st_size);
  mode_ = info.st_mode & 07777;
  owner_ = info.st_uid;
  links_ = static_cast<uint64_t>(info.st_nlink);
  identity_ = identityOf(info);
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

FileError FileReader::readAll(std::string* contents) {
  contents->clear();
  if (fd_ < 0) return FileError(FileResult::openFailed, path_);
  if (!readToEnd(fd_, size_, contents)) failed_ = true;
  return failedUnless(!failed_, FileResult::readFailed, path_);
}

bool FileReader::readAt(uint64_t offset, char* buffer, std::size_t count) {
  if (fd_ < 0) return false;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = retryInterrupted([&] {
      return ::pread(fd_, buffer + done, count - done,
                     static_cast<off_t>(offset + done));
    });
    if (n < 0) failed_ = true;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int FileReader::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

FileError readWholeFile(const Folders& folders, const std::string& path,
                        std::string* contents, bool followLinks) {
  contents->clear();
  FileReader reader(folders, path, followLinks);
  return reader.readAll(contents);
}

namespace {

// The file `path` of `folders` that was appended to, `identity`, for a cut
// after its descriptor is closed.
struct Appended {
  const Folders& folders;
  const std::string& path;
  FileIdentity identity;
};

// Appends `bytes` through `fd`, opened for appending to the file `file` of
// `sizeBefore` bytes, and closes it.
FileError appendAndClose(int fd, std::string_view bytes, uint64_t sizeBefore,
                         const Appended& file) {
  const bool written = writeAll(fd, bytes);
  // A partial record would shift every later record: cut the file back.
  if (!written) (void)cutBackTo(fd, sizeBefore);
  const bool closed = closeChecked(fd);
  if (written && !closed) {
    // The close reported a lost write (a network file system does): take out
    // whatever of the bytes did land, in that very file only.
    (void)truncateFileTo(file.folders, file.path, sizeBefore, file.identity);
  }
  return failedUnless(written && closed, FileResult::writeFailed, file.path);
}

}  // namespace

FileError appendBlock(const Folders& folders, const std::string& path,
                      std::string_view block, std::string_view filler,
                      AppendOutcome* outcome) {
  bool created = false;
  struct stat info;
  const int fd = openForAppending(folders, path, &created, &info);
  if (fd < 0) return FileError(FileResult::openFailed, path);
  const uint64_t sizeBefore = created ? 0 : static_cast<uint64_t>(info.st_size);
  outcome->sizeBefore = sizeBefore;
  outcome->created = created;
  outcome->identity = identityOf(info);
  std::string padded;
  std::string_view bytes = block;
  const std::size_t partial =
      filler.empty() ? 0 : static_cast<std::size_t>(sizeBefore % filler.size());
  if (partial != 0) {
    padded.append(filler.substr(partial)).append(block);
    bytes = padded;
  }
  return appendAndClose(fd, bytes, sizeBefore,
                        Appended{folders, path, outcome->identity});
}

AppendableFile::AppendableFile(const Folders& folders, const std::string& path)
    : FileReader(folders, path, O_RDWR | O_APPEND), folders_(folders) {}

FileError AppendableFile::appendAndClose(std::string_view block) {
  if (!isOpen()) return FileError(FileResult::openFailed, path());
  const uint64_t sizeBefore = size();
  return ::appendAndClose(release(), block, sizeBefore,
                          Appended{folders_, path(), identity()});
}

RewritableFile::RewritableFile(const Folders& folders, const std::string& path)
    : FileReader(folders, path, kUpdateFlags) {}

FileError RewritableFile::rewriteAndClose(std::string_view bytes,
                                          uint64_t sizeBefore) {
  if (!isOpen()) return FileError(FileResult::openFailed, path());
  const int fd = release();
  // Never emptied first: a rewrite of the same length makes no page of the
  // file anew, where emptying a small file for every trade costs a page
  // written to the disk per trade.
  bool written = writeAll(fd, bytes, 0);
  if (written && sizeBefore > bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  const bool closed = closeChecked(fd);
  return failedUnless(written && closed, FileResult::writeFailed, path());
}

namespace {

// True when the regular file open at `fd`, described by `info`, is already
// `size` zero bytes with mode 0777: what a create would make of it.
bool isZeroFileMode0777(int fd, const struct stat& info, std::size_t size) {
  if ((info.st_mode & 07777) != 0777 ||
      static_cast<uint64_t>(info.st_size) != size)
    return false;
  char buffer[1 << 14];
  std::size_t done = 0;
  while (done < size) {
    const std::size_t want = std::min(sizeof buffer, size - done);
    const ssize_t n = retryInterrupted(
        [&] { return ::pread(fd, buffer, want, static_cast<off_t>(done)); });
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] != 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FileError createFileMode0777(const Folders& folders, const std::string& path,
                             std::size_t size, const KeepReplaced& keep,
                             ReplacedFile* replaced) {
  *replaced = ReplacedFile();
  int fd = createExclusive(folders, path, O_WRONLY);
  if (fd < 0 && errno == EEXIST) {
    // A statistics file left by a run that was cut off is most often just
    // this: leave it, rather than keep 80 KB of zeros in the log to make it
    // again.
    struct stat info;
    const int existing =
        size == 0 ? -1
                  : keepIfOwnRegular(
                        openPath(folders, path, O_RDONLY | O_NOFOLLOW), &info);
    if (existing >= 0) {
      const bool same = isZeroFileMode0777(existing, info, size);
      ::close(existing);
      if (same) {
        replaced->existed = true;
        replaced->unchanged = true;
        replaced->mode = 0777;
        replaced->identity = identityOf(info);
        return FileError();
      }
    }
    const FileError opened = openReplaced(folders, path, replaced, &fd);
    if (!opened.ok()) return opened;
    // What it held is kept first; an empty file has nothing to keep.
    if (!replaced->bytes.empty()) {
      FileError kept = keep(*replaced);
      if (kept.ok() && ::ftruncate(fd, 0) != 0)
        kept = FileError(FileResult::writeFailed, path);
      if (!kept.ok()) {
        ::close(fd);
        return kept;
      }
    }
  } else if (fd >= 0) {
    struct stat info;
    if (::fstat(fd, &info) == 0) replaced->identity = identityOf(info);
  }
  if (fd < 0) return FileError(FileResult::openFailed, path);
  bool written = size == 0 || reserveZeros(fd, size);
  // Through the descriptor that made the file: exactly this file, with no
  // path to look up again (and no /proc, which a chroot may lack).
  if (written) written = ::fchmod(fd, 0777) == 0;
  const bool closed = closeChecked(fd);
  return failedUnless(written && closed, FileResult::writeFailed, path);
}

namespace {

// Opens the regular file at `path` to put it back: never created, and only
// when it is the file `identity` names (when known). -1 otherwise.
int openToPutBack(const Folders& folders, const std::string& path, int flags,
                  FileIdentity identity, struct stat* info) {
  const int fd = keepIfRegular(openPath(folders, path, flags), info, true);
  if (fd < 0 || !identity.isKnown()) return fd;
  const FileIdentity found = identityOf(*info);
  if (found.device == identity.device && found.inode == identity.inode)
    return fd;
  ::close(fd);
  errno = ESTALE;
  return -1;
}

}  // namespace

FileError putBackFile(const Folders& folders, const std::string& path,
                      const PutBack& old) {
  struct stat info;
  const int fd = openToPutBack(folders, path,
                               O_WRONLY | (old.followLinks ? 0 : O_NOFOLLOW),
                               old.identity, &info);
  const std::string_view bytes = old.bytes;
  if (fd < 0) return FileError(FileResult::openFailed, path);
  bool written = writeAll(fd, bytes, 0);
  if (written && static_cast<uint64_t>(info.st_size) != bytes.size())
    written = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
  if (written && old.restoresMode)
    written = ::fchmod(fd, static_cast<mode_t>(old.mode)) == 0;
  const bool closed = closeChecked(fd);
  return failedUnless(written && closed, FileResult::writeFailed, path);
}

FileError truncateFileTo(const Folders& folders, const std::string& path,
                         uint64_t size, FileIdentity identity) {
  // Follows a symbolic link as the append did.
  struct stat info;
  const int fd = openToPutBack(folders, path, O_WRONLY, identity, &info);
  if (fd < 0) return FileError(FileResult::openFailed, path);
  const bool cut = cutBackTo(fd, size);
  const bool closed = closeChecked(fd);
  return failedUnless(cut && closed, FileResult::writeFailed, path);
}

FileError probePutBack(const Folders& folders, const std::string& path,
                       bool followLinks, FileIdentity identity) {
  struct stat info;
  const int fd =
      openToPutBack(folders, path, O_WRONLY | (followLinks ? 0 : O_NOFOLLOW),
                    identity, &info);
  if (fd >= 0) ::close(fd);
  return failedUnless(fd >= 0, FileResult::openFailed, path);
}

FileError removeFile(const Folders& folders, const std::string& path) {
  if (holdsZeroByte(path)) return FileError(FileResult::openFailed, path);
  return failedUnless(unlinkPath(folders, path) == 0 || errno == ENOENT,
                      FileResult::writeFailed, path);
}

FileError readPathState(const Folders& folders, const std::string& path,
                        PathState* state) {
  *state = PathState();
  if (holdsZeroByte(path)) return FileError();  // no file can be there
  struct stat info;
  if (statPath(folders, path, &info, false) != 0)
    return failedUnless(errno == ENOENT, FileResult::openFailed, path);
  // A link is taken for what it leads to, as an append follows it.
  if (S_ISLNK(info.st_mode) && statPath(folders, path, &info, true) != 0) {
    state->kind = PathState::Kind::other;
    return FileError();
  }
  state->kind =
      S_ISREG(info.st_mode) ? PathState::Kind::regular : PathState::Kind::other;
  state->size = static_cast<uint64_t>(info.st_size);
  if (S_ISREG(info.st_mode)) state->identity = identityOf(info);
  return FileError();
}

FileError inspectPath(const Folders& folders, const std::string& path,
                      PathFacts* facts) {
  *facts = PathFacts();
  struct stat info;
  if (statPath(folders, path, &info, true) != 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      return FileError(FileResult::openFailed, path);
    facts->isDanglingLink = statPath(folders, path, &info, false) == 0;
    return FileError();
  }
  facts->exists = true;
  facts->isRegular = S_ISREG(info.st_mode);
  facts->isDirectory = S_ISDIR(info.st_mode);
  facts->links = static_cast<uint64_t>(info.st_nlink);
  facts->owner = info.st_uid;
  facts->mode = info.st_mode & 07777;
  facts->size = static_cast<uint64_t>(info.st_size);
  // Asked of the folder's descriptor, never of the path.
  const char* name = nullptr;
  bool isFolder = false;
  const int at = folders.locate(path, &name, ENOENT, &isFolder);
  if (at >= 0) {
    facts->readable = ::faccessat(at, name, R_OK, AT_EACCESS) == 0;
    facts->writable = ::faccessat(at, name, W_OK, AT_EACCESS) == 0;
  }
  return FileError();
}

FileError freeSpaceOf(const Folders& folders, const std::string& folder,
                      uint64_t* bytes, uint64_t* blockSize) {
  const int fd = folders.openFolder(folder, O_PATH);
  if (fd < 0) return FileError(FileResult::openFailed, folder);
  struct statvfs info;
  const bool known = ::fstatvfs(fd, &info) == 0;
  ::close(fd);
  if (known) {
    *bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    *blockSize = info.f_frsize;
  }
  return failedUnless(known, FileResult::readFailed, folder);
}

FileError probeChange(const Folders& folders, const std::string& path,
                      ChangeOpen how) {
  struct stat info;
  int fd = -1;
  switch (how) {
    case ChangeOpen::append:
      fd = keepIfRegular(openPath(folders, path, kAppendFlags), &info, true);
      break;
    case ChangeOpen::update:
      fd = keepIfRegular(openPath(folders, path, kUpdateFlags), &info, true);
      break;
    case ChangeOpen::create:
      fd = keepIfOwnRegular(openPath(folders, path, kReplaceFlags), &info);
      break;
  }
  if (fd >= 0) {
    ::close(fd);
    return FileError();
  }
  FileError failed(FileResult::openFailed, path);
  failed.systemError = errno;
  if (failed.systemError != ENOENT || how == ChangeOpen::update) return failed;
  // Missing: made in its folder, which this user must be able to write.
  const char* name = nullptr;
  const int at = folders.locate(path, &name, EINVAL);
  if (at >= 0 && ::faccessat(at, ".", W_OK | X_OK, AT_EACCESS) == 0)
    return FileError();
  failed.systemError = errno;
  return failed;
}

FileError listFolder(const Folders& folders, const std::string& folder,
                     std::vector<std::string>* names) {
  names->clear();
  const int fd = folders.openFolder(folder, O_RDONLY);
  if (fd < 0) return FileError(FileResult::openFailed, folder);
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return FileError(FileResult::openFailed, folder);
  }
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const bool read = errno == 0;
  ::closedir(listing);
  return failedUnless(read, FileResult::readFailed, folder);
}

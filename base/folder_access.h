// How every file is reached: through the folders of the run, walked and
// checked once at its start. The system calls under file_io and
// journal/durable_file; nothing else makes them.
#ifndef CONVERT_BASE_FOLDER_ACCESS_H_
#define CONVERT_BASE_FOLDER_ACCESS_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_error.h"
#include "base/folder_safety.h"

// The folders a run works in, each reached once by a walk on descriptors that
// checks every folder it passes (see folder_safety.h), inner links included,
// and kept open for the run: every file of the run is reached through the
// folder that holds it, by one name, so that a folder renamed or replaced by
// a link later on is never followed. A file whose folder is not one of them
// does not open.
class Folders {
 public:
  explicit Folders(FolderTrust trust = trustOfThisProcess());
  ~Folders();
  Folders(Folders&& other) noexcept;
  Folders(const Folders&) = delete;
  Folders& operator=(const Folders&) = delete;
  Folders& operator=(Folders&&) = delete;

  // Walks to the folder `path` one name at a time, from the root or the
  // current folder, resolving each symbolic link met on the way (at most 40)
  // and judging every folder it passes, the last one by `rule`; files in
  // `path` + "/" + name are then reached through it. When a folder on the way
  // could be changed by another user the result says which and why
  // (othersCanChange, groupCanChange, otherOwner, with the folder as the walk
  // reached it and `detail` saying who); nothing is kept then. A folder that
  // cannot be reached or looked at is kept as one in which every open fails
  // as the walk did, and the result is ok: the first file the run opens
  // there names the failure. A walk that fails otherwise (a disk error) is
  // openFailed for the folder it had reached.
  FileError add(const std::string& path,
                FolderRule rule = FolderRule::installation);
  // The same for `name` (one or more names) walked from the folder added as
  // `from`, kept as `path`.
  FileError addWithin(const std::string& from, const std::string& name,
                      const std::string& path, FolderRule rule);

  // Where `path` is reached: the descriptor of the folder that holds it, and
  // the name in it in `*name`. -1 with errno set when its folder is not one of
  // these or was not reached, or the path holds a zero byte (`zeroByteError`
  // then). With `isFolder`, a path that is one of these folders itself is
  // reached as its own descriptor and the name ".", and `*isFolder` says so.
  int locate(const std::string& path, const char** name, int zeroByteError,
             bool* isFolder = nullptr) const;
  // The folder `path` itself, opened anew through its descriptor with
  // `flags`; -1 with errno set when it is not one of these.
  int openFolder(const std::string& path, int flags) const;

 private:
  struct Entry {
    std::string path;
    int fd;         // O_PATH; -1 when the folder was not reached
    int openError;  // why, then
  };
  const Entry* find(const std::string& path) const;
  FileError keep(const std::string& path, int start, std::string shown,
                 const std::string& walk, FolderRule rule);

  FolderTrust trust_;
  std::vector<Entry> entries_;
};

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

// True when the path holds a zero byte: it names no file, and is never cut
// there to open the prefix.
bool holdsZeroByte(const std::string& path);

// open(2) of `path` through its folder in `folders` (the folder itself when
// `path` is one), never waiting (O_NONBLOCK) and closed on exec; -1 with errno
// set on failure.
int openPath(const Folders& folders, const std::string& path, int flags,
             mode_t mode = 0666);

// stat(2), or lstat(2) without `followLinks`, of `path` through its folder.
int statPath(const Folders& folders, const std::string& path, struct stat* info,
             bool followLinks);

// unlink(2) of `path` through its folder.
int unlinkPath(const Folders& folders, const std::string& path);

// Writes all of `bytes` at `offset`, or at the end with O_APPEND when `offset`
// is negative, looping over short writes.
bool writeAll(int fd, std::string_view bytes, off_t offset = -1);

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd);

// The folder that holds `path`: "." for a bare name.
std::string folderOf(const std::string& path);

#endif  // CONVERT_BASE_FOLDER_ACCESS_H_

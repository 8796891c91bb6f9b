// How every file is reached: by its path, or, for a path in one of the folders
// pinned for the run, through that folder as it was opened at the start, so
// that a folder renamed or replaced by a link later on is never followed. The
// system calls under file_io and durable_file; nothing else makes them.
#ifndef CONVERT_BASE_FOLDER_ACCESS_H_
#define CONVERT_BASE_FOLDER_ACCESS_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// While a PinnedFolders object lives, a file whose path is one of its folders,
// "/" and a name is reached through that folder as it was opened at the start.
// A folder that could not be opened then holds nothing (every open in it
// fails).
class PinnedFolders {
 public:
  // Opens each folder in turn, following links as typed; a folder that lies in
  // an earlier one is opened through it.
  explicit PinnedFolders(const std::vector<std::string>& folders);
  ~PinnedFolders();
  PinnedFolders(const PinnedFolders&) = delete;
  PinnedFolders& operator=(const PinnedFolders&) = delete;

 private:
  std::size_t count_ = 0;
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

// open(2) of `path`, never waiting (O_NONBLOCK) and closed on exec; -1 with
// errno set on failure.
int openPath(const std::string& path, int flags, mode_t mode = 0666);

// stat(2), or lstat(2) without `followLinks`, of `path`.
int statPath(const std::string& path, struct stat* info, bool followLinks);

// unlink(2) of `path`.
int unlinkPath(const std::string& path);

// Writes all of `bytes` at `offset`, or at the end with O_APPEND when `offset`
// is negative, looping over short writes.
bool writeAll(int fd, std::string_view bytes, off_t offset = -1);

// Closes and reports whether the close succeeded (a delayed write error shows
// here).
bool closeChecked(int fd);

// The folder that holds `path`: "." for a bare name.
std::string folderOf(const std::string& path);

#endif  // CONVERT_BASE_FOLDER_ACCESS_H_

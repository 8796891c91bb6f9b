// The only code that touches files. Every operation opens, uses and closes its
// file within the call (or within the lifetime of its object), checks every
// write and close, and writes nothing to the page: callers report what
// happened.
#ifndef CONVERT_BASE_FILE_IO_H_
#define CONVERT_BASE_FILE_IO_H_

#include <cstddef>
#include <string>
#include <string_view>

enum class FileResult { ok, openFailed, readFailed, writeFailed };

// Reads a whole regular file into `contents`. openFailed when the path holds a
// zero byte, does not exist, cannot be read or is not a regular file (a
// directory, a FIFO, a socket, a device, a dangling symbolic link); readFailed
// when a read fails with an error other than the end of the file.
FileResult readWholeFile(const std::string& path, std::string* contents);

// A regular file opened for reading, closed when the object goes away. Opening
// never waits: whatever is not a regular file does not open.
class FileReader {
 public:
  // A symbolic link at `path` is followed unless `followLinks` is false, in
  // which case the file does not open.
  explicit FileReader(const std::string& path, bool followLinks = true);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False when the file could not be opened (see readWholeFile).
  bool isOpen() const { return fd_ >= 0; }
  // The size and the permission bits of the file when it was opened.
  unsigned long long size() const { return size_; }
  unsigned mode() const { return mode_; }
  // Reads up to `capacity` bytes, looping over short reads. Returns the count
  // read; fewer than `capacity` means the end of the file or a read error,
  // which hasFailed() then tells.
  std::size_t read(char* buffer, std::size_t capacity);
  // True once a read has failed with an error other than the end of the file.
  bool hasFailed() const { return failed_; }

 private:
  int fd_ = -1;
  bool failed_ = false;
  unsigned long long size_ = 0;
  unsigned mode_ = 0;
};

// What an append found: the file's size before it, and whether the append
// created the file.
struct AppendOutcome {
  unsigned long long sizeBefore = 0;
  bool created = false;
};

// Appends `block` to the regular file, creating it, so that it starts at a
// multiple of the filler's size: when the file ends part way into such a unit,
// the bytes of `filler` from that point on complete it first (an empty filler
// adds nothing). Nothing is created through a dangling symbolic link, and
// whatever is not a regular file gives openFailed. On writeFailed the file has
// been cut back to its size before the call, so a partial write never stays
// behind. `outcome` is filled on ok and writeFailed.
FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler, AppendOutcome* outcome);

// Appends `bytes` to the file, creating it; see appendBlock.
FileResult appendBytes(const std::string& path, std::string_view bytes);

// Cuts the regular file back to `size` bytes when it is longer; never
// lengthens it.
FileResult truncateFileTo(const std::string& path, unsigned long long size);

// Removes the file (not what a symbolic link there points to). A file that is
// not there counts as removed.
FileResult removeFile(const std::string& path);

// Writes `bytes` over the start of the regular file (which must exist) and cuts
// off what is left of its `sizeBefore` bytes after them, keeping its inode and
// mode. The
// file is never emptied first, so a rewrite of the same length makes no page
// of it anew: on a disk, emptying a small file for every trade costs a page
// written per trade.
FileResult rewriteFile(const std::string& path, std::string_view bytes,
                       unsigned long long sizeBefore);

// What creating a file replaced: whether a file of that name existed, the
// bytes it held and its permission bits.
struct ReplacedFile {
  bool existed = false;
  std::string bytes;
  unsigned mode = 0;
};

// Creates the file as `size` zero bytes with mode 0777, not following a
// symbolic link. A file of that name is read into `replaced` first (openFailed
// or readFailed when that fails; nothing has been changed then), then
// replaced. `replaced` tells what was there on ok and writeFailed.
FileResult createZeroFile(const std::string& path, std::size_t size,
                          ReplacedFile* replaced);

// Puts back a file that createZeroFile replaced: its bytes and its mode, in
// the same inode. A symbolic link at `path` is not followed.
FileResult restoreFile(const std::string& path, const ReplacedFile& old);

// Creates the file or empties it, not following a symbolic link, and gives the
// file it opened mode 0777. False when it cannot be opened or is not a regular
// file.
bool createEmptyFileMode0777(const std::string& path);

// An exclusive flock(2) on a directory, held until the object goes away. When
// the directory cannot be opened nothing is held.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& path);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool isHeld() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

#endif  // CONVERT_BASE_FILE_IO_H_

// The only code that touches files. Every operation opens, uses and closes its
// file within the call (or within the lifetime of its object), checks every
// write and close, and writes nothing to the page: callers report what
// happened.
#ifndef CONVERT_IMPORT_FILE_IO_H_
#define CONVERT_IMPORT_FILE_IO_H_

#include <cstddef>
#include <string>
#include <string_view>

enum class FileResult { ok, openFailed, writeFailed };

// Reads a whole regular file into `contents`. A read error ends the reading
// like the end of the file: what was read so far stays. openFailed when the
// path holds a zero byte, does not exist, cannot be read or is a directory.
FileResult readWholeFile(const std::string& path, std::string* contents);

// A file opened for reading, closed when the object goes away.
class FileReader {
 public:
  explicit FileReader(const std::string& path);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False when the file could not be opened (see readWholeFile).
  bool isOpen() const { return fd_ >= 0; }
  // The size of the file when it was opened.
  unsigned long long size() const { return size_; }
  // Reads up to `capacity` bytes, looping over short reads. Returns the count
  // read; fewer than `capacity` means the end of the file or a read error. A
  // file that is not a regular file gives kNonRegularReadLimit bytes at most:
  // a device such as /dev/full never ends.
  std::size_t read(char* buffer, std::size_t capacity);

  static constexpr unsigned long long kNonRegularReadLimit = 1 << 20;

 private:
  int fd_ = -1;
  bool isRegular_ = false;
  unsigned long long size_ = 0;
  unsigned long long bytesRead_ = 0;
};

// Appends `bytes` to the file, creating it. On writeFailed the file has been
// cut back to its size before the call, so a partial write never stays behind.
FileResult appendBytes(const std::string& path, std::string_view bytes);

// Appends `block` so that it starts at a multiple of the filler's size: when
// the file ends part way into such a unit, the bytes of `filler` from that
// point on complete it first. On writeFailed the file has been cut back to its
// size before the call.
FileResult appendBlock(const std::string& path, std::string_view block,
                       std::string_view filler);

// Empties the file (creating it) and writes `bytes`, keeping its inode and
// mode.
FileResult replaceFileContents(const std::string& path, std::string_view bytes);

// Creates the file, or empties it, and writes `bytes`. A symbolic link at
// `path` is not followed (the open fails), so nothing it points to is touched.
FileResult createFileWithContents(const std::string& path,
                                  std::string_view bytes);

// Creates the file or empties it, not following a symbolic link, and gives the
// file it opened mode 0777. False when it cannot be opened.
bool createOpenEmptyFile(const std::string& path);

// Sets the mode of exactly this file to 0777, whatever the umask. A symbolic
// link is refused, not followed. Starts no other program.
bool setOpenPermissions(const std::string& path);

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

#endif  // CONVERT_IMPORT_FILE_IO_H_

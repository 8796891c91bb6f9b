// The only code that touches files. Every operation opens, uses and closes its
// file within the call (or within the lifetime of its object), checks every
// write and close, and writes nothing to the page: callers report what
// happened. Only regular files open, and no open ever waits: a FIFO, a socket,
// a device or a dangling symbolic link where a file belongs is a file that
// will not open.
#ifndef CONVERT_BASE_FILE_IO_H_
#define CONVERT_BASE_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_error.h"
#include "base/folder_access.h"

// Which file a file is: its file system and its inode. Zero when unknown.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool isKnown() const { return device != 0 || inode != 0; }
};

// Reads a whole regular file into `contents`. openFailed when the path holds a
// zero byte, does not exist, cannot be read or is not a regular file (or is a
// symbolic link, unless `followLinks`); readFailed when a read fails with an
// error other than the end of the file.
FileError readWholeFile(const Folders& folders, const std::string& path,
                        std::string* contents, bool followLinks = true);

// A regular file opened for reading, closed when the object goes away.
class FileReader {
 public:
  // A symbolic link at `path` is followed unless `followLinks` is false, in
  // which case the file does not open.
  FileReader(const Folders& folders, const std::string& path,
             bool followLinks = true);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False when the file could not be opened (see readWholeFile).
  bool isOpen() const { return fd_ >= 0; }
  // The size and the permission bits of the file when it was opened.
  uint64_t size() const { return size_; }
  unsigned mode() const { return mode_; }
  // The owner, the count of links, and the file system and inode of the
  // file.
  unsigned owner() const { return owner_; }
  uint64_t links() const { return links_; }
  FileIdentity identity() const { return identity_; }
  // Reads up to `capacity` bytes. Returns the count read; fewer than
  // `capacity` means the end of the file or a read error, which hasFailed()
  // then tells.
  std::size_t read(char* buffer, std::size_t capacity);
  // Reads the rest of the file into `contents`: readFailed on a read error.
  FileError readAll(std::string* contents);
  const std::string& path() const { return path_; }
  // True once a read has failed with an error other than the end of the file.
  bool hasFailed() const { return failed_; }
  // Reads exactly `count` bytes at `offset`: false at the end of the file or
  // on a read error.
  bool readAt(uint64_t offset, char* buffer, std::size_t count);

 protected:
  // Opens with `flags` (O_RDONLY, O_RDWR ...), never creating the file.
  FileReader(const Folders& folders, const std::string& path, int flags);
  // The descriptor, for the last use of the file; the object no longer owns
  // it.
  int release();

 private:
  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
  uint64_t size_ = 0;
  unsigned mode_ = 0;
  unsigned owner_ = 0;
  uint64_t links_ = 0;
  FileIdentity identity_;
};

// What an append found: the file's size before it, and whether the append
// created the file.
struct AppendOutcome {
  uint64_t sizeBefore = 0;
  bool created = false;
  FileIdentity identity;  // of the file appended to
};

// Appends `block` to the regular file, creating it, so that it starts at a
// multiple of the filler's size: when the file ends part way into such a unit,
// the bytes of `filler` from that point on complete it first (an empty filler
// adds nothing). Nothing is created through a dangling symbolic link. On
// writeFailed the file has been cut back to its size before the call, so a
// partial write never stays behind. `outcome` is filled on ok and writeFailed.
FileError appendBlock(const Folders& folders, const std::string& path,
                      std::string_view block, std::string_view filler,
                      AppendOutcome* outcome);

// A regular file that exists, opened to be read from its start and then
// appended to, through one descriptor (never created; a symbolic link is
// followed). Closed when the object goes away.
class AppendableFile : public FileReader {
 public:
  AppendableFile(const Folders& folders, const std::string& path);
  // Appends `block` and closes the file. On writeFailed the file has been cut
  // back to its size at the open.
  FileError appendAndClose(std::string_view block);

 private:
  const Folders& folders_;
};

// A regular file that exists, opened for reading and writing through one
// descriptor (never created; a symbolic link is followed), to be read whole
// and then rewritten in place. Closed when the object goes away.
class RewritableFile : public FileReader {
 public:
  RewritableFile(const Folders& folders, const std::string& path);
  // Writes `bytes` over the start of the file and cuts off what is left of its
  // `sizeBefore` bytes after them, keeping its inode and mode, then closes it.
  FileError rewriteAndClose(std::string_view bytes, uint64_t sizeBefore);
};

// What creating a file replaced: whether a file of that name existed, the
// bytes it held and its permission bits.
struct ReplacedFile {
  bool existed = false;
  std::string bytes;
  unsigned mode = 0;
  // The file was already exactly what the create makes, and was left as it
  // is: nothing was replaced.
  bool unchanged = false;
  FileIdentity identity;  // of the file made or replaced
};

// Called with what a create is about to replace, before it is changed: what
// failed when it could not be kept, and the file must stay as it is.
using KeepReplaced = std::function<FileError(const ReplacedFile&)>;

// Creates the file as `size` zero bytes with mode 0777 (an empty file with
// size 0), not following a symbolic link. A file of that name is used only
// when it belongs to this user (openFailed otherwise): one that is already
// just what the create makes, 80,640 zero bytes say, is left as it is
// (`replaced->unchanged`). Any other is read into `replaced` first (openFailed
// when it is larger than kMaxReplacedBytes, or readFailed when the read
// fails; nothing has been changed then); when it holds bytes they are handed
// to `keep` before it is emptied, and when `keep` fails it is left as it is
// and the result is what `keep` returned. `replaced` tells what was there on ok
// and writeFailed.
constexpr std::size_t kMaxReplacedBytes = 1 << 20;
FileError createFileMode0777(const Folders& folders, const std::string& path,
                             std::size_t size, const KeepReplaced& keep,
                             ReplacedFile* replaced);

// What putBackFile writes back: the whole file's bytes, through a symbolic
// link at the path only when `followLinks`, and its mode when `restoresMode`,
// into the file `identity` (when known: a file with another identity is not
// the one that was changed).
struct PutBack {
  std::string_view bytes;
  bool followLinks = false;
  bool restoresMode = false;
  unsigned mode = 0;
  FileIdentity identity;
};

// Writes `old.bytes` back as the whole file at `path`, in the same inode,
// with its mode when it restores one. Never creates the file: a missing one,
// or one that is not `old.identity`, is openFailed.
FileError putBackFile(const Folders& folders, const std::string& path,
                      const PutBack& old);

// Cuts the regular file at `path` (through a symbolic link, as it was
// appended to) back to `size` bytes when it is longer; never lengthens it. A
// missing file, or one that is not `identity` when that is known, is
// openFailed.
FileError truncateFileTo(const Folders& folders, const std::string& path,
                         uint64_t size, FileIdentity identity);

// Whether putBackFile (with `followLinks`) or truncateFileTo could reach the
// file `identity` at `path`, changing nothing: ok, or openFailed.
FileError probePutBack(const Folders& folders, const std::string& path,
                       bool followLinks, FileIdentity identity);

// Removes the file (not what a symbolic link there points to). A file that is
// not there counts as removed.
FileError removeFile(const Folders& folders, const std::string& path);

// The state of a path, not following a final symbolic link for `kind`.
struct PathState {
  enum class Kind { missing, regular, other } kind = Kind::missing;
  uint64_t size = 0;      // of a regular file, through a symbolic link
  FileIdentity identity;  // of a regular file
};
// openFailed when the state cannot be learnt (an error other than a missing
// path).
FileError readPathState(const Folders& folders, const std::string& path,
                        PathState* state);

// What a check before a change sees at a path (through a symbolic link).
struct PathFacts {
  bool exists = false;
  bool isDanglingLink = false;  // a symbolic link that leads nowhere
  bool isRegular = false;
  bool isDirectory = false;
  uint64_t links = 0;
  unsigned owner = 0;
  unsigned mode = 0;
  uint64_t size = 0;
  bool readable = false;  // by this user
  bool writable = false;  // by this user
};
// openFailed when the state cannot be learnt (an error other than a missing
// path).
FileError inspectPath(const Folders& folders, const std::string& path,
                      PathFacts* facts);

// The bytes this user may still write on the file system that holds the
// folder `folder`, one of `folders`, and the size of its blocks.
FileError freeSpaceOf(const Folders& folders, const std::string& folder,
                      uint64_t* bytes, uint64_t* blockSize);

// The names in the folder `folder`, one of `folders` ("." and ".." left
// out).
FileError listFolder(const Folders& folders, const std::string& folder,
                     std::vector<std::string>* names);

// How an operation opens a file it changes: appendBlock (created when
// missing), AppendableFile and RewritableFile (the file must exist), and
// createFileMode0777 (made, or reused only when it is this user's own).
enum class ChangeOpen { append, update, create };

// Opens `path` as the operation `how` does, with its flags and its checks,
// and closes it again, changing nothing: ok when the operation's open would
// succeed (for a missing file that it creates: when this user may create
// files in its folder), otherwise openFailed with the error number its open
// would fail with (EINVAL: not a regular file of one link; ELOOP: a symbolic
// link where the program creates a file; EPERM: a file of another user).
FileError probeChange(const Folders& folders, const std::string& path,
                      ChangeOpen how);

#endif  // CONVERT_BASE_FILE_IO_H_

// What a file operation found, and where.
#ifndef CONVERT_BASE_FILE_ERROR_H_
#define CONVERT_BASE_FILE_ERROR_H_

#include <string>
#include <utility>

// What an operation on a file found. Every file that is about to be changed
// must be a regular file with exactly one link (a hard link to a file
// elsewhere would carry the change there): otherwise it does not open. A
// folder on the way to a file is refused when another user could change it.
enum class FileResult {
  ok,
  openFailed,
  readFailed,
  writeFailed,
  othersCanChange,  // a folder on the way every user may write to
  groupCanChange,   // one whose group holds other users
  otherOwner,       // one that belongs to another user
};

// What an operation that can fail returns: ok, or what failed and where (the
// path as it was formed).
struct [[nodiscard]] FileError {
  FileError() = default;
  FileError(FileResult failed, std::string where, std::string who = {})
      : result(failed), path(std::move(where)), detail(std::move(who)) {}

  bool ok() const { return result == FileResult::ok; }

  FileResult result = FileResult::ok;
  std::string path;
  // For a folder of another user: who, in plain words.
  std::string detail;
  // The system's error number of a failed call, when known (0 otherwise).
  int systemError = 0;
};

// ok when `done`, otherwise `failed` at `path`.
inline FileError failedUnless(bool done, FileResult failed,
                              const std::string& path) {
  return done ? FileError() : FileError(failed, path);
}

#endif  // CONVERT_BASE_FILE_ERROR_H_

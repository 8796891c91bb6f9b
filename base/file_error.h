// What a file operation found, and where.
#ifndef CONVERT_BASE_FILE_ERROR_H_
#define CONVERT_BASE_FILE_ERROR_H_

#include <string>
#include <utility>

// What an operation on a file found. Every file that is about to be changed
// must be a regular file with exactly one link (a hard link to a file
// elsewhere would carry the change there): otherwise it does not open.
// notOwnLog: a
// rollback log that this program, run as this user, cannot have written;
// unknownTail: what a rollback log would cut off a file is not what the
// program appends there.
enum class FileResult {
  ok,
  openFailed,
  readFailed,
  writeFailed,
  othersCanChange,  // a folder on the way every user may write to
  groupCanChange,   // one whose group holds other users
  otherOwner,       // one that belongs to another user
  otherUsersLock,   // the conversion's lock is another user's
  otherUsersLog,    // a rollback log that another user's run left
  notOwnLog,
  unknownTail,
  noFreeId,  // a counter with no trade identifier left to issue
};

// What failed, and where: the path as it was formed.
struct FileError {
  FileError() = default;
  FileError(FileResult failed, std::string where, std::string who = {})
      : result(failed), path(std::move(where)), detail(std::move(who)) {}

  FileResult result = FileResult::ok;
  std::string path;
  // For a folder, a lock, a log or a tail of another user: who or what, in
  // plain words.
  std::string detail;
  // The system's error number of a failed call, when known (0 otherwise).
  int systemError = 0;
};

// True when `result` is ok; otherwise fills `error` with it and `path`.
inline bool succeeded(FileResult result, const std::string& path,
                      FileError* error) {
  if (result == FileResult::ok) return true;
  error->result = result;
  error->path = path;
  error->detail.clear();
  return false;
}

#endif  // CONVERT_BASE_FILE_ERROR_H_

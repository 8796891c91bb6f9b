#include "conversion/failure_text.h"

std::string_view failureLead(FileResult result) {
  switch (result) {
    case FileResult::ok:
      return "";
    case FileResult::openFailed:
      return "Unable to open file";
    case FileResult::readFailed:
      return "Unable to read file";
    case FileResult::writeFailed:
      return "Unable to write file";
    case FileResult::noFreeId:
      return "No free trade identifier in";
    case FileResult::othersCanChange:
    case FileResult::groupCanChange:
    case FileResult::otherOwner:
      return "Other users of the server can write to folder";
    case FileResult::otherUsersLock:
      return "Conversion lock of another user";
    case FileResult::otherUsersLog:
      return "Rollback log left by another user:";
    case FileResult::notOwnLog:
      return "Rollback log not left by this program";
    case FileResult::unknownTail:
      return "Records that no conversion wrote past the rollback log's end in";
  }
  return "";
}

std::string failureAdvice(const FileError& error) {
  const std::string& path = error.path;
  switch (error.result) {
    case FileResult::othersCanChange:
      return "Remove the write permission of other users, for example with "
             "chmod o-w " +
             path + " (or chmod 755 " + path + "), and try again";
    case FileResult::groupCanChange:
      return "Its group " + error.detail +
             ": remove the write permission of the group, for example with "
             "chmod "
             "g-w " +
             path + ", and try again";
    case FileResult::otherOwner:
      return "It belongs to user " + error.detail +
             ", who can change what is in it: move the installation to a "
             "folder of your own (or have " +
             path + " given to you with chown), and try again";
    case FileResult::otherUsersLock:
      return "A conversion run as user " + error.detail +
             " is working on this target, or was cut off: wait for it to "
             "end, or run the conversion as that user";
    case FileResult::otherUsersLog:
      return "A conversion run as user " + error.detail +
             " was cut off here, and the target may hold a trade cut half "
             "way: run the conversion as that user, which puts it back";
    case FileResult::notOwnLog:
      return "Another user or program may have written it, and the target "
             "may hold a trade cut half way: restore the backup of the "
             "installation, or run convert-trades check to see what it holds";
    case FileResult::unknownTail:
      return "The live site wrote " + error.detail +
             " after a conversion was cut off, and the target may hold a "
             "trade cut half way: restore the backup of the installation "
             "(the live site was not on hold), or run convert-trades check to "
             "see which records they are";
    default:
      return "Please check file permissions and try again";
  }
}

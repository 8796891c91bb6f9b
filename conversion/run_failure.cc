#include "conversion/run_failure.h"

std::string_view failureLead(Failure reason) {
  switch (reason) {
    case Failure::none:
      return "";
    case Failure::openFailed:
      return "Unable to open file";
    case Failure::readFailed:
      return "Unable to read file";
    case Failure::writeFailed:
      return "Unable to write file";
    case Failure::noFreeId:
      return "No free trade identifier in";
    case Failure::othersCanChange:
    case Failure::groupCanChange:
    case Failure::otherOwner:
      return "Other users of the server can write to folder";
    case Failure::otherUsersLock:
      return "Conversion lock of another user";
    case Failure::otherUsersLog:
      return "Rollback log left by another user:";
    case Failure::notOwnLog:
      return "Rollback log not left by this program";
    case Failure::unknownTail:
      return "Records that no conversion wrote past the rollback log's end in";
  }
  return "";
}

std::string failureAdvice(const RunFailure& failure) {
  const std::string& path = failure.path;
  switch (failure.reason) {
    case Failure::othersCanChange:
      return "Remove the write permission of other users, for example with "
             "chmod o-w " +
             path + " (or chmod 755 " + path + "), and try again";
    case Failure::groupCanChange:
      return "Its group " + failure.detail +
             ": remove the write permission of the group, for example with "
             "chmod "
             "g-w " +
             path + ", and try again";
    case Failure::otherOwner:
      return "It belongs to user " + failure.detail +
             ", who can change what is in it: move the installation to a "
             "folder of your own (or have " +
             path + " given to you with chown), and try again";
    case Failure::otherUsersLock:
      return "A conversion run as user " + failure.detail +
             " is working on this target, or was cut off: wait for it to "
             "end, or run the conversion as that user";
    case Failure::otherUsersLog:
      return "A conversion run as user " + failure.detail +
             " was cut off here, and the target may hold a trade cut half "
             "way: run the conversion as that user, which puts it back";
    case Failure::notOwnLog:
      return "Another user or program may have written it, and the target "
             "may hold a trade cut half way: restore the backup of the "
             "installation, or run convert-trades check to see what it holds";
    case Failure::unknownTail:
      return "The live site wrote " + failure.detail +
             " after a conversion was cut off, and the target may hold a "
             "trade cut half way: restore the backup of the installation "
             "(the live site was not on hold), or run convert-trades check to "
             "see which records they are";
    default:
      return "Please check file permissions and try again";
  }
}

namespace {

RunFailure failureAt(Failure reason, const FileError& where) {
  RunFailure failure;
  failure.reason = reason;
  failure.path = where.path;
  failure.detail = where.detail;
  failure.systemError = where.systemError;
  return failure;
}

}  // namespace

RunFailure failureOf(const FileError& error) {
  switch (error.result) {
    case FileResult::ok:
      return RunFailure();
    case FileResult::openFailed:
      return failureAt(Failure::openFailed, error);
    case FileResult::readFailed:
      return failureAt(Failure::readFailed, error);
    case FileResult::writeFailed:
      return failureAt(Failure::writeFailed, error);
    case FileResult::othersCanChange:
      return failureAt(Failure::othersCanChange, error);
    case FileResult::groupCanChange:
      return failureAt(Failure::groupCanChange, error);
    case FileResult::otherOwner:
      return failureAt(Failure::otherOwner, error);
  }
  return failureAt(Failure::openFailed, error);
}

RunFailure failureOf(const JournalError& error) {
  switch (error.refusal) {
    case Refusal::none:
      return failureOf(error.where);
    case Refusal::otherUsersLock:
      return failureAt(Failure::otherUsersLock, error.where);
    case Refusal::otherUsersLog:
      return failureAt(Failure::otherUsersLog, error.where);
    case Refusal::notOwnLog:
      return failureAt(Failure::notOwnLog, error.where);
    case Refusal::unknownTail:
      return failureAt(Failure::unknownTail, error.where);
  }
  return failureOf(error.where);
}

RunFailure failureOf(const TradeIdError& error) {
  return error.noFreeId ? failureAt(Failure::noFreeId, error.where)
                        : failureOf(error.where);
}

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
      return "Other users of the server can write to folder";
    case FileResult::notOwnLog:
      return "Rollback log not left by this program";
    case FileResult::unknownTail:
      return "Records that no conversion wrote past the rollback log's end in";
  }
  return "";
}

std::string failureAdvice(FileResult result, std::string_view path) {
  switch (result) {
    case FileResult::othersCanChange:
      return std::string(
                 "Remove the write permission of other users, for example "
                 "with chmod o-w ")
          .append(path)
          .append(" (or chmod 755 ")
          .append(path)
          .append("), and try again");
    case FileResult::notOwnLog:
      return "Another user or program may have put it there: remove it and "
             "try again";
    case FileResult::unknownTail:
      return "Restore the backup of the installation, or remove the rollback "
             "log d/t/convert.journal after checking the file, and try again";
    default:
      return "Please check file permissions and try again";
  }
}

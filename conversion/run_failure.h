// Why a run stopped, in the conversion's own reasons, which every lower
// layer's result is turned into, and the words that say it: the page puts
// them into its error block (the path in bold between them), the terminal
// prints them as they stand.
#ifndef CONVERT_CONVERSION_RUN_FAILURE_H_
#define CONVERT_CONVERSION_RUN_FAILURE_H_

#include <string>
#include <string_view>

#include "base/file_error.h"
#include "import/trade_id_counter.h"
#include "journal/journal_error.h"

enum class Failure {
  none,
  openFailed,
  readFailed,
  writeFailed,
  othersCanChange,  // a folder on the way every user may write to
  groupCanChange,   // one whose group holds other users
  otherOwner,       // one that belongs to another user
  otherUsersLock,   // the conversion's lock is another user's
  otherUsersLog,    // a rollback log that another user's run left
  notOwnLog,        // a rollback log this program, as this user, did not write
  unknownTail,      // what lies past a logged size is no conversion's
  noFreeId,         // a counter with no trade identifier left to issue
};

// What stopped a run, and where.
struct RunFailure {
  bool ok() const { return reason == Failure::none; }
  // A system call failed: its error number tells more.
  bool isCallFailure() const {
    return reason == Failure::openFailed || reason == Failure::readFailed ||
           reason == Failure::writeFailed;
  }

  Failure reason = Failure::none;
  std::string path;
  // Who or what else is involved, in plain words: the user a folder, a lock
  // or a log belongs to, or what lies past a logged size.
  std::string detail;
  // The system's error number of a failed call, when known (0 otherwise).
  int systemError = 0;
};

RunFailure failureOf(const FileError& error);
RunFailure failureOf(const JournalError& error);
RunFailure failureOf(const TradeIdError& error);

// What comes before the path: "Unable to open file" and the like.
std::string_view failureLead(Failure reason);

// What the owner does, the path given where the advice names it, and who
// else can change a folder (the failure's detail) where that is the reason.
std::string failureAdvice(const RunFailure& failure);

#endif  // CONVERT_CONVERSION_RUN_FAILURE_H_

// What the rollback machinery refuses to use, beyond a file that fails.
#ifndef CONVERT_JOURNAL_JOURNAL_ERROR_H_
#define CONVERT_JOURNAL_JOURNAL_ERROR_H_

#include <string>
#include <utility>

#include "base/file_error.h"

// Why a run will not use what it finds of an earlier one: something that
// another user or program could have put there, and could name any file in.
enum class Refusal {
  none,
  otherUsersLock,  // the conversion's lock is another user's
  otherUsersLog,   // a rollback log that another user's run left
  notOwnLog,       // a rollback log this program, as this user, did not write
  unknownTail,     // past a logged size lies what no group of a run appends
};

// What taking the lock or putting a cut-off group back found: ok, a refusal
// (`where` names the file it is about, and who or what in plain words in its
// detail), or the file that failed (`where`).
struct [[nodiscard]] JournalError {
  JournalError() = default;
  JournalError(FileError failed) : where(std::move(failed)) {}  // NOLINT
  JournalError(Refusal refused, std::string path, std::string detail = {})
      : refusal(refused),
        where(FileResult::ok, std::move(path), std::move(detail)) {}

  bool ok() const { return refusal == Refusal::none && where.ok(); }

  Refusal refusal = Refusal::none;
  FileError where;
};

#endif  // CONVERT_JOURNAL_JOURNAL_ERROR_H_

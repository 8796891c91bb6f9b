// The log of undo records that a group of file changes keeps on disk before
// the changes it covers, so that a run cut off by a kill or a power cut can be
// put back by the next one. Each record puts one file back as it was before
// the group.
#ifndef CONVERT_BASE_UNDO_LOG_H_
#define CONVERT_BASE_UNDO_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

struct UndoRecord {
  enum class Kind : uint8_t {
    cutBack = 1,  // cut the file back to `size` (a symbolic link is followed)
    remove = 2,   // remove the file (it did not exist)
    putBack = 3,  // write `bytes` back as the whole file
  };
  Kind kind = Kind::cutBack;
  std::string name;  // relative to the root the log was written for
  uint64_t size = 0;
  std::string bytes;
  bool followLinks = false;   // putBack: through a symbolic link at the name
  bool restoresMode = false;  // putBack: and gives the file `mode`
  unsigned mode = 0;
};

// Writes the log in pieces: a header that starts a group, then records, each
// with its length and a checksum chained from the one before it, so that a
// torn write, or records left over from an earlier group, end the log where
// they start.
class UndoLogEncoder {
 public:
  // The header of a new group; `groupTag` should differ from group to group.
  std::string startGroup(uint64_t groupTag);
  std::string encode(const UndoRecord& record);

 private:
  uint64_t chain_ = 0;
};

// The records of a log, in the order written, up to the first one that is
// incomplete or damaged. False, with no records, when the log holds no
// complete header: its group never began.
bool decodeUndoLog(std::string_view bytes, std::vector<UndoRecord>* records);

// Applies one record to the file root + record.name. A file that is already
// as the record wants it is left alone, so that applying a log twice is
// harmless.
FileResult applyUndoRecord(const std::string& root, const UndoRecord& record);

#endif  // CONVERT_BASE_UNDO_LOG_H_

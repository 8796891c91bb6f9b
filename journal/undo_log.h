// The log of undo records that a group of file changes keeps on disk before
// the changes it covers, so that a run cut off by a kill or a power cut can be
// put back by the next one. Each record puts one file back as it was before
// the group.
#ifndef CONVERT_JOURNAL_UNDO_LOG_H_
#define CONVERT_JOURNAL_UNDO_LOG_H_

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
  // cutBack and putBack: the file that was changed, when known; any other
  // file at the name is not put back.
  FileIdentity identity;
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

// Reads the log in an open file a record at a time, so that memory holds one
// record however long the log is: first forward, to find the records up to the
// first incomplete or damaged one, then each again by its place.
class UndoLogReader {
 public:
  explicit UndoLogReader(FileReader* file) : file_(file) {}
  // False when the log holds no complete header: its group never began.
  bool readHeader();
  // The next record, in the order written; false at the end of the log's
  // valid part (or on a read error, which the file then tells).
  bool next(UndoRecord* record);
  // How many records next() has returned.
  std::size_t count() const { return places_.size(); }
  // Reads the `index`-th record again; false when it is no longer what it
  // was.
  bool reread(std::size_t index, UndoRecord* record);

 private:
  struct Place {
    uint64_t offset;  // of the body
    uint64_t length;
    uint64_t chainBefore;
    uint64_t chainAfter;
  };
  bool readBody(const Place& place, UndoRecord* record);

  FileReader* file_;
  uint64_t offset_ = 0;
  uint64_t chain_ = 0;
  std::vector<Place> places_;
};

// Applies one record to the file root + record.name. A file that is already
// as the record wants it is left alone, so that applying a log twice is
// harmless.
FileError applyUndoRecord(const Folders& folders, const std::string& root,
                          const UndoRecord& record);

#endif  // CONVERT_JOURNAL_UNDO_LOG_H_

// The changes that one unit of work (an imported trade) makes to files, kept so
// that when one of its steps fails every file can be put back as it was before
// the unit began.
#ifndef CONVERT_BASE_FILE_JOURNAL_H_
#define CONVERT_BASE_FILE_JOURNAL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

// Each operation does what the file_io operation of the same name does and
// remembers what it needs to undo it, learnt from the calls it makes anyway.
// The journal assumes that nothing else writes these files while it is in
// use.
class FileJournal {
 public:
  // Appends as appendBlock does (an empty filler adds nothing).
  FileResult append(const std::string& path, std::string_view block,
                    std::string_view filler = std::string_view());

  // Rewrites the file in place (same inode and mode) with `newContents`, as
  // rewriteFile does; `oldContents` is what it held, to be put back.
  FileResult rewrite(const std::string& path, std::string_view newContents,
                     std::string oldContents);

  // Creates the file as `size` zero bytes, as createZeroFile does.
  FileResult createZeroFile(const std::string& path, std::size_t size);

  // The unit is whole: its changes stay.
  void commit() { changes_.clear(); }

  // Puts every file changed since the last commit back, newest change first:
  // appended files are cut back to their size before the unit (and removed
  // when the unit created them), replaced contents are written back, and a
  // created file is removed.
  void rollback();

 private:
  enum class Undo { cutBack, remove, rewrite, restore };
  struct Change {
    Undo undo;
    std::string path;
    unsigned long long size = 0;
    std::string bytes;
    unsigned mode = 0;
  };

  std::vector<Change> changes_;
};

#endif  // CONVERT_BASE_FILE_JOURNAL_H_

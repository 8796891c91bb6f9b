#include "base/file_journal.h"

#include <algorithm>
#include <utility>

FileResult FileJournal::append(const std::string& path, std::string_view block,
                               std::string_view filler) {
  AppendOutcome outcome;
  const FileResult result = appendBlock(path, block, filler, &outcome);
  if (result == FileResult::openFailed) return result;
  changes_.push_back(Change{outcome.created ? Undo::remove : Undo::cutBack,
                            path, outcome.sizeBefore, std::string()});
  return result;
}

FileResult FileJournal::rewrite(const std::string& path,
                                std::string_view newContents,
                                std::string oldContents) {
  const FileResult result = rewriteFile(path, newContents, oldContents.size());
  // An open that failed changed nothing; a failed write may have left part of
  // the new text over the old. Putting the old text back cuts off whatever of
  // the new one reaches past it.
  if (result != FileResult::openFailed) {
    const unsigned long long written =
        std::max(newContents.size(), oldContents.size());
    changes_.push_back(
        Change{Undo::rewrite, path, written, std::move(oldContents)});
  }
  return result;
}

FileResult FileJournal::createZeroFile(const std::string& path,
                                       std::size_t size) {
  ReplacedFile replaced;
  const FileResult result = ::createZeroFile(path, size, &replaced);
  if (result == FileResult::ok || result == FileResult::writeFailed) {
    changes_.push_back(Change{replaced.existed ? Undo::restore : Undo::remove,
                              path, 0, std::move(replaced.bytes),
                              replaced.mode});
  }
  return result;
}

void FileJournal::rollback() {
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    switch (change->undo) {
      case Undo::cutBack:
        (void)truncateFileTo(change->path, change->size);
        break;
      case Undo::remove:
        (void)removeFile(change->path);
        break;
      case Undo::rewrite:
        (void)rewriteFile(change->path, change->bytes, change->size);
        break;
      case Undo::restore:
        (void)restoreFile(change->path,
                          ReplacedFile{true, change->bytes, change->mode});
        break;
    }
  }
  changes_.clear();
}

// The names of an installation's files, in one place: every path to one of
// them is made here. An installation is its directory as typed, with its
// trailing "/": each name is appended to it with nothing in between, so a
// directory typed without one names files beside it.
#ifndef CONVERT_IMPORT_INSTALLATION_PATHS_H_
#define CONVERT_IMPORT_INSTALLATION_PATHS_H_

#include <string>
#include <string_view>
#include <vector>

// The trade index: text in a source installation, 996-byte records in a
// target.
std::string sourceIndexPath(const std::string& source);
std::string targetIndexPath(const std::string& target);

// The target's identifier counter, toplist, caps and summary files.
std::string counterPath(const std::string& target);
std::string toplistPath(const std::string& target);
std::string capsPath(const std::string& target);
std::string summaryPath(const std::string& target);

// The statistics file of the trade whose identifier reads `idText`, and the
// history file of the trade with key `key`, which lies in the history folder.
std::string statsFilePath(const std::string& target, const std::string& idText);
std::string historyFilePath(const std::string& target, const std::string& key);
std::string historyFolderPath(const std::string& target);
// Whether a trade with key `key` has a history file: a key holding '/' would
// name a file outside the history folder.
bool isHistoryFileKey(std::string_view key);

// The files a run appends to, each cut back to its old size when a trade is
// undone: the index, the toplist, the caps and the summary file.
std::vector<std::string> appendedFilePaths(const std::string& target);

// The installation's data folder, which holds every file the conversion
// writes, in itself or in its trade and history folders.
std::string dataFolderPath(const std::string& target);

// The folder that holds the index, the counter and the statistics files: a
// run locks it, and keeps its rollback log there, under a name that no
// statistics file can have.
std::string tradeFolderPath(const std::string& target);
std::string journalPath(const std::string& target);
// The file a run holds locked while it works on the target.
std::string lockPath(const std::string& target);

#endif  // CONVERT_IMPORT_INSTALLATION_PATHS_H_

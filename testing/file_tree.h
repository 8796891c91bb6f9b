// Snapshots of a directory tree, to compare what a run left on disk.
#ifndef CONVERT_TESTING_FILE_TREE_H_
#define CONVERT_TESTING_FILE_TREE_H_

#include <map>
#include <string>
#include <vector>

// One entry of a directory tree as it lies on disk.
struct TreeEntry {
  char kind = 'f';    // 'f' file, 'd' directory, 'l' symlink, 'p' fifo
  int mode = 0644;    // permission bits; 0 for a symlink
  std::string bytes;  // a file's contents or a symlink's target
};
bool operator==(const TreeEntry& a, const TreeEntry& b);

// Every entry below `root`, by path relative to it; symlinks are not followed.
using FileTree = std::map<std::string, TreeEntry>;
FileTree readTree(const std::string& root);

// The same, less `inside` (a directory below `root`, with its trailing "/")
// and everything in it: what a run over the target `inside` must not change.
FileTree readTreeOutside(const std::string& root, const std::string& inside);

// One line per entry, small contents in full and large ones summarised, for
// comparisons that print readably.
std::vector<std::string> describeTree(const FileTree& tree);

#endif  // CONVERT_TESTING_FILE_TREE_H_

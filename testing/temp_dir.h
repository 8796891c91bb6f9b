// Temporary folders and whole files for tests.
#ifndef CONVERT_TESTING_TEMP_DIR_H_
#define CONVERT_TESTING_TEMP_DIR_H_

#include <string>
#include <vector>

#include "base/folder_access.h"

// A fresh directory under `parent`, removed with everything in it when the
// object goes away. Its path ends with "/", ready to be used as an
// installation prefix.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes `bytes` as the whole file, creating parent directories.
void writeFile(const std::string& path, const std::string& bytes);
// The whole file, or "<missing>" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// The permission bits of the file, or -1.
int fileMode(const std::string& path);
void makeDirectories(const std::string& path);
// Hands `path` and everything below it to user and group `uid`.
void giveToUser(const std::string& path, unsigned uid);

// The folders `paths`, walked and judged as a run walks them, for tests of
// the file operations (each must pass; a missing one is kept as missing).
Folders foldersFor(const std::vector<std::string>& paths);

#endif  // CONVERT_TESTING_TEMP_DIR_H_

// Helpers for tests: a temporary directory and whole-file reads and writes.
#ifndef CONVERT_TESTING_TEST_UTIL_H_
#define CONVERT_TESTING_TEST_UTIL_H_

#include <sys/types.h>

#include <string>

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

#endif  // CONVERT_TESTING_TEST_UTIL_H_

#include "testing/temp_dir.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir(const std::string& parent) {
  std::string pattern = parent + "/convert_test_XXXXXX";
  const char* made = mkdtemp(pattern.data());
  path_ = made ? std::string(made) + "/" : parent + "/convert_test_failed/";
  // Other users (the server's, an unprivileged test run) must be able to reach
  // inside.
  if (made) ::chmod(made, 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void makeDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
  makeDirectories(std::filesystem::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return "<missing>";
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool fileExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

int fileMode(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int>(info.st_mode & 07777);
}

void giveToUser(const std::string& path, unsigned uid) {
  ::lchown(path.c_str(), uid, uid);
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(path, ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    ::lchown(it->path().c_str(), uid, uid);
  }
}

Folders foldersFor(const std::vector<std::string>& paths) {
  Folders folders;
  for (const std::string& path : paths) {
    const FileError refused = folders.add(path);
    // A test's own folder that the walk refuses is a broken test machine.
    if (refused.result != FileResult::ok) abort();
  }
  return folders;
}

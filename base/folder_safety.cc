#include "base/folder_safety.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "base/folder_access.h"

namespace {

bool othersCanWrite(const struct stat& info) {
  return S_ISDIR(info.st_mode) && (info.st_mode & S_IWOTH) != 0 &&
         (info.st_mode & S_ISVTX) == 0;
}

// Every folder on the way to `path` and `path` itself, from the root down
// ("/a/b": "/", "/a", "/a/b"); a relative path starts at the current folder.
std::vector<std::string> foldersLeadingTo(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return {};
    absolute = std::string(cwd) + "/" + absolute;
  }
  std::vector<std::string> folders = {"/"};
  for (std::size_t at = 1; at <= absolute.size(); ++at) {
    if (at == absolute.size() || absolute[at] == '/') {
      if (absolute[at - 1] != '/') folders.push_back(absolute.substr(0, at));
    }
  }
  return folders;
}

// The first folder of `folders` that others can write, looked at through
// links; false when there is none (a missing one ends the walk).
bool firstFolderOthersCanWrite(const std::vector<std::string>& folders,
                               std::string* unsafe) {
  for (const std::string& folder : folders) {
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0) return false;
    if (othersCanWrite(info)) {
      *unsafe = folder;
      return true;
    }
  }
  return false;
}

}  // namespace

bool findFolderOthersCanChange(const std::string& folder,
                               const std::vector<std::string>& inside,
                               std::string* unsafe) {
  if (holdsZeroByte(folder) || folder.size() >= PATH_MAX) return false;
  // The path as typed: every folder that holds a link on the way.
  if (firstFolderOthersCanWrite(foldersLeadingTo(folder), unsafe)) return true;
  // And the folders the links lead to.
  char real[PATH_MAX];
  if (::realpath(folder.c_str(), real) != nullptr &&
      firstFolderOthersCanWrite(foldersLeadingTo(real), unsafe))
    return true;
  for (const std::string& path : inside) {
    struct stat info;
    if (holdsZeroByte(path) || ::stat(path.c_str(), &info) != 0) continue;
    if (othersCanWrite(info)) {
      *unsafe = path;
      return true;
    }
  }
  return false;
}

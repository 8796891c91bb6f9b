#include "conversion/installation_folders.h"

#include "import/installation_paths.h"

namespace {

// Adds the folder that holds `data`, `data` itself, and each of `inner`
// (folders right inside `data`), all of them installation folders.
FileError addInstallation(const std::string& data,
                          std::initializer_list<std::string> inner,
                          Folders* folders) {
  // "kv2/" + "d": the installation is "kv2"; typed without its "/", the
  // data folder "kv2d" lies in the current folder.
  const std::size_t slash = data.rfind('/');
  const std::string top = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : data.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? data : data.substr(slash + 1);
  FileError error = folders->add(top);
  if (error.result == FileResult::ok)
    error = folders->addWithin(top, name, data, FolderRule::installation);
  for (const std::string& folder : inner) {
    if (error.result != FileResult::ok) break;
    error = folders->addWithin(data, folder.substr(data.size() + 1), folder,
                               FolderRule::installation);
  }
  return error;
}

}  // namespace

FileError openSourceFolders(const std::string& source, Folders* folders) {
  return addInstallation(dataFolderPath(source), {tradeFolderPath(source)},
                         folders);
}

FileError openTargetFolders(const std::string& target, Folders* folders) {
  return addInstallation(dataFolderPath(target),
                         {tradeFolderPath(target), historyFolderPath(target)},
                         folders);
}

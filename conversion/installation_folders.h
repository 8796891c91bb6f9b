// The folders of the two installations that a conversion works in, reached
// once, by the walk that judges every folder on the way.
#ifndef CONVERT_CONVERSION_INSTALLATION_FOLDERS_H_
#define CONVERT_CONVERSION_INSTALLATION_FOLDERS_H_

#include <string>

#include "base/file_error.h"
#include "base/folder_access.h"

// Adds the source's folder, data folder and trade folder to `folders`: ok, or
// the refusal of a folder that another user could change.
FileError openSourceFolders(const std::string& source, Folders* folders);

// Adds the target's folder, data folder, trade folder and history folder.
FileError openTargetFolders(const std::string& target, Folders* folders);

#endif  // CONVERT_CONVERSION_INSTALLATION_FOLDERS_H_

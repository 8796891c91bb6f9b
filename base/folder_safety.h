// Whether other users of the machine could change the folders of a target.
#ifndef CONVERT_BASE_FOLDER_SAFETY_H_
#define CONVERT_BASE_FOLDER_SAFETY_H_

#include <string>
#include <vector>

// Looks at every folder that leads to `folder` (its path as typed, and the
// real path it names) and at each of `inside` that exists: true, with
// `unsafe` naming it, when one of them may be written by every user (write
// permission for others without the sticky bit), so that another account
// could plant links or files in it.
bool findFolderOthersCanChange(const std::string& folder,
                               const std::vector<std::string>& inside,
                               std::string* unsafe);

#endif  // CONVERT_BASE_FOLDER_SAFETY_H_

// Who besides the run may change a folder: the rule a folder must pass before
// the run relies on the names in it.
#ifndef CONVERT_BASE_FOLDER_SAFETY_H_
#define CONVERT_BASE_FOLDER_SAFETY_H_

#include <sys/stat.h>

#include <string>
#include <vector>

// The users a folder on the way may belong to, and the only ones who may
// share a group that can write it: root, the user the run runs as, and the
// owner of the program's own file (who can make the program do anything
// already).
struct FolderTrust {
  std::vector<unsigned> users;
  bool trusts(unsigned user) const;
};

// Root and the user the process runs as.
FolderTrust trustOfThisProcess();
// Those and the owner of the running program's file, when it can be learnt.
FolderTrust trustOfThisRun();

// How strictly a folder is judged. A folder the run only passes through may
// be writable by everyone when it has the sticky bit (no one can rename or
// remove another's names there, as in /tmp). An installation folder, and a
// folder the program creates names in, may not be writable by others at all.
enum class FolderRule { onTheWay, installation };

// Why another user could change a folder.
enum class FolderDanger {
  none,
  otherOwner,   // it belongs to a user the run does not trust
  othersWrite,  // every user may write to it
  groupWrite,   // its group may write to it and holds other users, or
                // users that cannot be known
};

struct FolderVerdict {
  FolderDanger danger = FolderDanger::none;
  // In plain words: the owner's name, or the group's and an untrusted member.
  std::string who;
};

// Judges the folder that `info` describes. A group's members are read from
// /etc/group and /etc/passwd (listed members and users whose primary group it
// is): a group found in neither counts as one that others can write.
FolderVerdict judgeFolder(const struct stat& info, FolderRule rule,
                          const FolderTrust& trust);

// The name of the user `uid` in /etc/passwd, or "uid N"; of the group `gid`
// in /etc/group, or "number N".
std::string userName(unsigned uid);
std::string groupName(unsigned gid);

#endif  // CONVERT_BASE_FOLDER_SAFETY_H_

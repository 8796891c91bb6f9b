#include "cli/arguments.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "import/installation_paths.h"

namespace {

std::string asFolder(std::string path) {
  if (path.back() != '/') path.push_back('/');
  return path;
}

// The folder as the user typed it, without the "/" it was given.
std::string typed(const std::string& folder) {
  return folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
}

// Why `folder` is no installation of the kind that has `file`; empty when it
// is one.
std::string whyNotOne(const std::string& folder, const std::string& file,
                      struct stat* info) {
  // Without its "/": a file given as a folder is seen as what it is.
  if (::stat(typed(folder).c_str(), info) != 0)
    return "no such folder: " + typed(folder);
  if (!S_ISDIR(info->st_mode)) return "not a folder: " + typed(folder);
  struct stat inside;
  if (::stat(file.c_str(), &inside) != 0)
    return "not an installation: no " + file.substr(folder.size()) + " in " +
           typed(folder);
  return std::string();
}

std::string realFolder(const std::string& folder) {
  char real[PATH_MAX];
  if (::realpath(folder.c_str(), real) == nullptr) return std::string();
  return std::string(real) + (real[1] == '\0' ? "" : "/");
}

}  // namespace

bool parseCommand(const std::vector<std::string>& args, Command* command,
                  std::string* error) {
  std::vector<std::string> words;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      command->json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      command->quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      command->name = "help";
      return true;
    } else if (arg == "--version") {
      command->name = "version";
      return true;
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) {
    *error = "no command";
    return false;
  }
  command->name = words[0];
  if (command->name == "help" && words.size() == 1) return true;
  if (command->name != "check" && command->name != "import" &&
      command->name != "verify") {
    *error = "unknown command " + command->name;
    return false;
  }
  const bool verify = command->name == "verify";
  if (verify ? words.size() != 2 && words.size() != 3 : words.size() != 3) {
    *error =
        command->name + (verify ? " takes the TARGET folder, then maybe "
                                  "the SOURCE"
                                : " takes the SOURCE and the TARGET folder");
    return false;
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i].empty()) {
      *error = "an empty folder name";
      return false;
    }
  }
  // verify names the target first: it is about the target.
  command->target = asFolder(words[verify ? 1 : 2]);
  if (words.size() == 3) command->source = asFolder(words[verify ? 2 : 1]);
  return true;
}

std::string whyNotInstallations(const Command& command) {
  struct stat source;
  struct stat target;
  std::string why =
      whyNotOne(command.target, targetIndexPath(command.target), &target);
  if (command.source.empty()) return why;
  if (why.empty())
    why = whyNotOne(command.source, sourceIndexPath(command.source), &source);
  if (!why.empty()) return why;
  if (source.st_dev == target.st_dev && source.st_ino == target.st_ino)
    return "the same folder twice: " + typed(command.source);
  const std::string realSource = realFolder(command.source);
  const std::string realTarget = realFolder(command.target);
  if (!realSource.empty() && !realTarget.empty() &&
      (realTarget.compare(0, realSource.size(), realSource) == 0 ||
       realSource.compare(0, realTarget.size(), realTarget) == 0))
    return "one folder inside the other: " + typed(command.source) + " and " +
           typed(command.target);
  // Only a target has a counter: without one, the folders are most likely
  // the wrong way round.
  struct stat counter;
  if (::stat(counterPath(command.target).c_str(), &counter) != 0 &&
      ::stat(counterPath(command.source).c_str(), &counter) == 0)
    return "the two folders swapped: the SOURCE comes first, then the TARGET "
           "(" +
           typed(command.target) + " holds no d/t/i)";
  return std::string();
}

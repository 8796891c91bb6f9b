// The command line of convert-trades: the command, its two folders and its
// options, and the usage errors caught before anything is opened.
#ifndef CONVERT_CLI_ARGUMENTS_H_
#define CONVERT_CLI_ARGUMENTS_H_

#include <string>
#include <vector>

struct Command {
  std::string name;    // "check", "import", "verify"; "help" or "version"
  std::string source;  // each with its trailing "/"; verify's may be empty
  std::string target;
  bool json = false;
  bool quiet = false;  // only failures and the totals
};

// False, with `error` saying why in one line, when `args` is no command.
bool parseCommand(const std::vector<std::string>& args, Command* command,
                  std::string* error);

// Why the two folders cannot be a conversion's, in one line ("no such
// folder: a/kv22", "not an installation: no d/t/index in a/", the same folder
// twice, one inside the other, the two swapped); empty when they can. Only
// looks, for the message: the conversion reaches the folders itself.
std::string whyNotInstallations(const Command& command);

#endif  // CONVERT_CLI_ARGUMENTS_H_

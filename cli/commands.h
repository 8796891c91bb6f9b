// convert-trades: the conversion from a shell. "check" says what an import
// would do and changes nothing; "import" converts exactly as the form does.
#ifndef CONVERT_CLI_COMMANDS_H_
#define CONVERT_CLI_COMMANDS_H_

#include <ostream>
#include <string>
#include <vector>

// Where the program runs.
struct CliContext {
  bool startedAsCgi = false;  // GATEWAY_INTERFACE or REQUEST_METHOD is set
  bool outIsTerminal = false;
  bool errIsTerminal = false;
};

// Runs the command in `args` (without the program's name), writing to `out`
// and `err`. Returns the exit status: 0 when the check or the import runs
// through, 1 when it would stop or stopped at a file, 2 for a usage error,
// 128 + the signal's number for an import stopped by a signal. Started as a
// CGI program it changes nothing and answers 403.
int runConvertTrades(const std::vector<std::string>& args,
                     const CliContext& context, std::ostream& out,
                     std::ostream& err);

#endif  // CONVERT_CLI_COMMANDS_H_

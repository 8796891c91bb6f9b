// convert-trades: the conversion from a shell.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "cli/commands.h"
#include "conversion/stop_signals.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  installStopHandlers();
  std::ios::sync_with_stdio(false);
  CliContext context;
  context.startedAsCgi = std::getenv("GATEWAY_INTERFACE") != nullptr ||
                         std::getenv("REQUEST_METHOD") != nullptr;
  context.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  context.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  const int status =
      runConvertTrades(std::vector<std::string>(argv + 1, argv + argc), context,
                       std::cout, std::cerr);
  std::cout.flush();
  return status;
}

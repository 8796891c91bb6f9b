// convert.cgi: serves one CGI request and exits with status 0.
#include <csignal>
#include <iostream>

#include "cgi/request_driver.h"
#include "conversion/stop_signals.h"

int main() {
  // A browser that goes away must not stop the conversion half way.
  std::signal(SIGPIPE, SIG_IGN);
  installStopHandlers();
  std::ios::sync_with_stdio(false);
  runRequest(readEnvironment(), std::cin, std::cout);
  std::cout.flush();
  return 0;
}

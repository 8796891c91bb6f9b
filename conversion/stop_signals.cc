#include "conversion/stop_signals.h"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void noteStop(int signal) { stopRequested = signal; }

}  // namespace

void installStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = noteStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // file reads and writes go on undisturbed
  // SIGXCPU: a host's limit on processor time, which kills soon after.
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGXCPU}) {
    // A signal the caller chose to ignore stays ignored: nohup's SIGHUP, a
    // background job's SIGINT.
    struct sigaction before = {};
    if (sigaction(signal, nullptr, &before) == 0 &&
        before.sa_handler == SIG_IGN)
      continue;
    sigaction(signal, &action, nullptr);
  }
}

const char* stopSignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGXCPU:
      return "SIGXCPU";
  }
  return "";
}

const char* stopSignalWords(int signal) {
  switch (signal) {
    case SIGINT:
      return "interrupted (Ctrl-C)";
    case SIGTERM:
      return "terminated";
    case SIGHUP:
      return "hung up";
    case SIGXCPU:
      return "CPU time limit";
  }
  return "stopped";
}

bool isStopRequested() { return stopRequested != 0; }

int stopSignal() { return static_cast<int>(stopRequested); }

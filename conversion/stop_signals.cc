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
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGXCPU})
    sigaction(signal, &action, nullptr);
}

bool isStopRequested() { return stopRequested != 0; }

int stopSignal() { return static_cast<int>(stopRequested); }

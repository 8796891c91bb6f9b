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

namespace {

// Each stop signal's name, and what it means in words.
struct StopSignalText {
  int signal;
  const char* name;
  const char* words;
};
constexpr StopSignalText kStopSignalTexts[] = {
    {SIGINT, "SIGINT", "interrupted (Ctrl-C)"},
    {SIGTERM, "SIGTERM", "terminated"},
    {SIGHUP, "SIGHUP", "hung up"},
    {SIGXCPU, "SIGXCPU", "CPU time limit"},
};

const StopSignalText* textOf(int signal) {
  for (const StopSignalText& text : kStopSignalTexts)
    if (text.signal == signal) return &text;
  return nullptr;
}

}  // namespace

const char* stopSignalName(int signal) {
  const StopSignalText* text = textOf(signal);
  return text ? text->name : "";
}

const char* stopSignalWords(int signal) {
  const StopSignalText* text = textOf(signal);
  return text ? text->words : "stopped";
}

bool isStopRequested() { return stopRequested != 0; }

int stopSignal() { return static_cast<int>(stopRequested); }

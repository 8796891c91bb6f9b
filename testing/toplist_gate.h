// Holds a run inside its first imported trade, for tests that change the disk
// or send a signal there.
#ifndef CONVERT_TESTING_TOPLIST_GATE_H_
#define CONVERT_TESTING_TOPLIST_GATE_H_

#include <chrono>
#include <string>

// A run that opens the target's toplist (after its counter and index steps)
// is held there until the test lets it go on. Every later open, the test's
// own included, passes. The toplist must exist as a regular file before the
// gate is made, and the test must not open it between the gate's making and
// waitForRun. Needs root (a fanotify permission event).
class ToplistGate {
 public:
  explicit ToplistGate(const std::string& target);
  ~ToplistGate();  // lets a held run go on
  ToplistGate(const ToplistGate&) = delete;
  ToplistGate& operator=(const ToplistGate&) = delete;

  // Waits until a run opens the toplist, and holds it there. False on
  // timeout.
  bool waitForRun(std::chrono::milliseconds timeout);
  // Lets the held run go on.
  void release();

 private:
  std::string path_;
  int fanotify_ = -1;
  int held_ = -1;  // the descriptor of the held open, to answer
};

#endif  // CONVERT_TESTING_TOPLIST_GATE_H_

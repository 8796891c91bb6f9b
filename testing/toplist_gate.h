// Holds a run inside its first imported trade, for tests that change the disk
// or send a signal there.
#ifndef CONVERT_TESTING_TOPLIST_GATE_H_
#define CONVERT_TESTING_TOPLIST_GATE_H_

#include <chrono>
#include <string>

// The target's toplist becomes a FIFO, so the run waits at the toplist step
// (after its counter and index steps) until the test lets it go on. No later
// trade may reach the toplist.
class ToplistGate {
 public:
  explicit ToplistGate(const std::string& target);
  ~ToplistGate();
  ToplistGate(const ToplistGate&) = delete;
  ToplistGate& operator=(const ToplistGate&) = delete;

  // Waits until the run opens the toplist to measure it. False on timeout.
  bool waitForRun(std::chrono::milliseconds timeout);
  // Lets the run measure `firstLine`, then takes and returns the line it
  // appends ("<timeout>" when it does not come).
  std::string release(const std::string& firstLine,
                      std::chrono::milliseconds timeout);

 private:
  std::string path_;
  int writer_ = -1;
};

#endif  // CONVERT_TESTING_TOPLIST_GATE_H_

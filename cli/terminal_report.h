// The import's report on a terminal and in a log file: a progress bar on
// standard error whenever that is a terminal; where standard output is not
// one (a pipe, a file, nohup, cron), a first line saying what runs, one line a
// trade with the words of the page, flushed at every group's end, and a
// progress line every 10 seconds; the totals at the end.
#ifndef CONVERT_CLI_TERMINAL_REPORT_H_
#define CONVERT_CLI_TERMINAL_REPORT_H_

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "conversion/conversion_report.h"

struct TerminalOptions {
  bool bar = false;      // redraw a bar on `err`, a terminal (`barFd`)
  int barFd = 2;         // for the terminal's width
  bool lines = false;    // a line a trade on `out`
  bool logFile = false;  // `out` is no terminal: a first line and progress
  std::string heading;   // the first line, when `logFile`
};

class TerminalReport : public ConversionReport {
 public:
  TerminalReport(std::ostream& out, std::ostream& err, TerminalOptions options);

  bool wantsTradeCount() const override { return options_.bar; }
  void counted(uint64_t trades) override { total_ = trades; }
  void waiting() override;
  void alreadyInTarget(const std::string& key) override;
  void unstorableKey(const std::string& key) override;
  void belowThreshold(const std::string& key) override;
  void added(const std::string& key) override;
  void groupEnded() override;
  void failed(const RunFailure& failure, RunStage stage) override;

  // Takes the bar off the terminal's last line, for what follows, and writes
  // out what the lines hold so far.
  void end();

  uint64_t addedCount() const { return added_; }
  uint64_t alreadyInTargetCount() const { return alreadyInTarget_; }
  uint64_t passedOverCount() const { return passedOver_; }
  const RunFailure& failure() const { return failure_; }
  RunStage failedStage() const { return failedStage_; }

 private:
  using Clock = std::chrono::steady_clock;
  void stepDone();
  void drawBar(Clock::time_point now);
  // Trades imported a second since the first import, once there was a second
  // of imports to measure; 0 before.
  double importRate(Clock::time_point now) const;

  std::ostream& out_;
  std::ostream& err_;
  const TerminalOptions options_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  uint64_t added_ = 0;
  uint64_t alreadyInTarget_ = 0;
  uint64_t passedOver_ = 0;
  RunFailure failure_;
  RunStage failedStage_ = RunStage::importing;
  Clock::time_point start_;
  Clock::time_point firstImport_;
  Clock::time_point drawn_;
  Clock::time_point logged_;
  bool barShown_ = false;
};

#endif  // CONVERT_CLI_TERMINAL_REPORT_H_

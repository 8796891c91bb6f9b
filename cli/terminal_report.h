// The import's report on a terminal: a progress bar on standard error, or,
// where the output is not a terminal (a pipe, a file, cron), one plain line a
// trade with the words of the page; the totals at the end.
#ifndef CONVERT_CLI_TERMINAL_REPORT_H_
#define CONVERT_CLI_TERMINAL_REPORT_H_

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "conversion/conversion_report.h"

class TerminalReport : public ConversionReport {
 public:
  // `bar`: redraw a progress bar on `err`; `lines`: a line a trade on `out`.
  TerminalReport(std::ostream& out, std::ostream& err, bool bar, bool lines);

  bool wantsTradeCount() const override { return bar_; }
  void counted(uint64_t trades) override { total_ = trades; }
  void waiting() override;
  void skipping(const std::string& key) override;
  void unstorableKey(const std::string& key) override;
  void belowThreshold(const std::string& key) override;
  void added(const std::string& key) override;
  void failed(const FileError& error, RunStage stage) override;

  // Takes the bar off the terminal's last line, for what follows.
  void endBar();

  uint64_t addedCount() const { return added_; }
  uint64_t skippedCount() const { return skipped_; }
  uint64_t passedOverCount() const { return passedOver_; }
  const FileError& failure() const { return failure_; }
  RunStage failedStage() const { return failedStage_; }

 private:
  void stepDone();
  void drawBar(std::chrono::steady_clock::time_point now);

  std::ostream& out_;
  std::ostream& err_;
  const bool bar_;
  const bool lines_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  uint64_t added_ = 0;
  uint64_t skipped_ = 0;
  uint64_t passedOver_ = 0;
  FileError failure_;
  RunStage failedStage_ = RunStage::importing;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_;
  bool barShown_ = false;
};

#endif  // CONVERT_CLI_TERMINAL_REPORT_H_

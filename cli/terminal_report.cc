#include "cli/terminal_report.h"

#include <cstdio>

namespace {

// At most about ten redraws a second.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

TerminalReport::TerminalReport(std::ostream& out, std::ostream& err, bool bar,
                               bool lines)
    : out_(out),
      err_(err),
      bar_(bar),
      lines_(lines),
      start_(std::chrono::steady_clock::now()),
      drawn_(start_ - kRedrawEvery) {}

void TerminalReport::waiting() {
  err_ << "waiting for another conversion of this target to end "
          "(Ctrl-C stops waiting)\n"
       << std::flush;
}

void TerminalReport::skipping(const std::string& key) {
  ++skipped_;
  if (lines_) out_ << "skipping " << key << " - already exists in database\n";
  stepDone();
}

void TerminalReport::unstorableKey(const std::string& key) {
  ++passedOver_;
  if (lines_) out_ << "skipping " << key << " - trade key cannot be stored\n";
  stepDone();
}

void TerminalReport::belowThreshold(const std::string&) {
  ++passedOver_;
  stepDone();
}

void TerminalReport::added(const std::string& key) {
  ++added_;
  if (lines_) out_ << "added " << key << '\n';
  stepDone();
}

void TerminalReport::failed(const FileError& error, RunStage stage) {
  failure_ = error;
  failedStage_ = stage;
}

void TerminalReport::stepDone() {
  ++done_;
  if (!bar_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - drawn_ >= kRedrawEvery) drawBar(now);
}

void TerminalReport::drawBar(std::chrono::steady_clock::time_point now) {
  drawn_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  const uint64_t total = total_ > done_ ? total_ : done_;
  const int filled =
      total == 0 ? kBarWidth
                 : static_cast<int>(kBarWidth * static_cast<double>(done_) /
                                    static_cast<double>(total));
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kBarWidth, '.');
  char text[160];
  const double left = rate > 0 ? static_cast<double>(total - done_) / rate : 0;
  std::snprintf(text, sizeof text,
                "\r[%s] %llu/%llu trades  %.0f/s  %d:%02d left ", bar.c_str(),
                static_cast<unsigned long long>(done_),
                static_cast<unsigned long long>(total), rate,
                static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  err_ << text << std::flush;
  barShown_ = true;
}

void TerminalReport::endBar() {
  if (!barShown_) return;
  drawBar(std::chrono::steady_clock::now());
  err_ << '\n' << std::flush;
  barShown_ = false;
}

#include "cli/terminal_report.h"

#include <sys/ioctl.h>

#include <csignal>
#include <cstdio>

namespace {

// At most about ten redraws a second, and a progress line in a log file every
// ten seconds.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kLogEvery = std::chrono::seconds(10);
// Rates are told only once this much importing has been measured.
constexpr auto kFirstEstimate = std::chrono::seconds(1);
constexpr int kBarWidth = 30;
constexpr int kDefaultWidth = 80;

volatile std::sig_atomic_t resized = 0;
extern "C" void noteResize(int) { resized = 1; }

// The terminal's width in columns, or 80 when it does not say.
int terminalWidth(int fd) {
  struct winsize size = {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
    return kDefaultWidth;
  return size.ws_col;
}

std::string minutesAndSeconds(double seconds) {
  const long whole = static_cast<long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

TerminalReport::TerminalReport(std::ostream& out, std::ostream& err,
                               TerminalOptions options)
    : out_(out),
      err_(err),
      options_(std::move(options)),
      start_(Clock::now()),
      drawn_(start_ - kRedrawEvery),
      logged_(start_) {
  if (options_.bar) {
    struct sigaction action = {};
    action.sa_handler = noteResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
  }
  if (options_.logFile) out_ << options_.heading << '\n' << std::flush;
}

void TerminalReport::waiting() {
  err_ << "waiting for another conversion of this target to end "
          "(Ctrl-C stops waiting)\n"
       << std::flush;
}

void TerminalReport::alreadyInTarget(const std::string& key) {
  ++alreadyInTarget_;
  if (options_.lines)
    out_ << kSkippingWord << key << kAlreadyInTargetWords << '\n';
  stepDone();
}

void TerminalReport::unstorableKey(const std::string& key) {
  ++passedOver_;
  if (options_.lines)
    out_ << kSkippingWord << key << kUnstorableKeyWords << '\n';
  stepDone();
}

void TerminalReport::belowThreshold(const std::string&) {
  ++passedOver_;
  stepDone();
}

void TerminalReport::added(const std::string& key) {
  if (added_++ == 0) firstImport_ = Clock::now();
  if (options_.lines) out_ << kAddedWord << key << '\n';
  stepDone();
}

void TerminalReport::groupEnded() {
  // A log file read during the run, or left by a kill, holds every trade of
  // the groups made durable.
  if (options_.lines) out_.flush();
}

void TerminalReport::failed(const RunFailure& failure, RunStage stage) {
  failure_ = failure;
  failedStage_ = stage;
}

double TerminalReport::importRate(Clock::time_point now) const {
  if (added_ == 0) return 0;
  const auto importing = now - firstImport_;
  if (importing < kFirstEstimate) return 0;
  return static_cast<double>(added_) /
         std::chrono::duration<double>(importing).count();
}

void TerminalReport::stepDone() {
  ++done_;
  const auto now = Clock::now();
  if (options_.bar && (resized != 0 || now - drawn_ >= kRedrawEvery))
    drawBar(now);
  if (options_.logFile && now - logged_ >= kLogEvery) {
    logged_ = now;
    const double rate = importRate(now);
    char text[200];
    std::snprintf(
        text, sizeof text,
        "progress: %llu trades done (%llu added, %llu skipped, %llu "
        "passed over), %.0f added a second, %s elapsed\n",
        static_cast<unsigned long long>(done_),
        static_cast<unsigned long long>(added_),
        static_cast<unsigned long long>(alreadyInTarget_),
        static_cast<unsigned long long>(passedOver_), rate,
        minutesAndSeconds(std::chrono::duration<double>(now - start_).count())
            .c_str());
    out_ << text << std::flush;
  }
}

void TerminalReport::drawBar(Clock::time_point now) {
  drawn_ = now;
  resized = 0;
  const uint64_t total = total_ > done_ ? total_ : done_;
  const int filled =
      total == 0 ? kBarWidth
                 : static_cast<int>(kBarWidth * static_cast<double>(done_) /
                                    static_cast<double>(total));
  std::string text =
      "[" + std::string(static_cast<std::size_t>(filled), '#') +
      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
      std::to_string(done_) + "/" + std::to_string(total) + " trades";
  // Skipped trades are done, but only imports tell the speed.
  const double rate = importRate(now);
  if (rate > 0) {
    char speed[64];
    std::snprintf(speed, sizeof speed, "  %.0f/s  ", rate);
    text += speed +
            minutesAndSeconds(static_cast<double>(total - done_) / rate) +
            " left";
  }
  // Never as wide as the terminal: a line that wraps would add a line at
  // every redraw.
  const std::size_t width =
      static_cast<std::size_t>(terminalWidth(options_.barFd));
  if (text.size() >= width) text.resize(width > 1 ? width - 1 : 0);
  err_ << '\r' << text << "\x1b[K" << std::flush;
  barShown_ = true;
}

void TerminalReport::end() {
  if (barShown_) {
    drawBar(Clock::now());
    err_ << '\n' << std::flush;
    barShown_ = false;
  }
  out_.flush();
}

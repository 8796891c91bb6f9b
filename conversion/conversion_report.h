// What a conversion tells the program that runs it, as it goes: the page of
// convert.cgi and the terminal of convert-trades each turn it into their own
// output. Nothing below this folder knows that either exists.
#ifndef CONVERT_CONVERSION_CONVERSION_REPORT_H_
#define CONVERT_CONVERSION_CONVERSION_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "conversion/run_failure.h"

// The words around a trade's key in its line, the same on the page and on
// the terminal: "skipping KEY - already exists in database", "added KEY".
inline constexpr std::string_view kSkippingWord = "skipping ";
inline constexpr std::string_view kAlreadyInTargetWords =
    " - already exists in database";
inline constexpr std::string_view kUnstorableKeyWords =
    " - trade key cannot be stored";
inline constexpr std::string_view kAddedWord = "added ";

// Where a run was when a step failed.
enum class RunStage {
  readingIndex,  // loading the source or the target index: the target was not
                 // changed or locked
  preparing,     // reaching the folders, taking the lock: nothing changed
  recovering,    // putting back, or refusing, what a cut-off run left: the
                 // target may hold a trade cut half way
  importing,     // the trade loop: the trade in hand was undone, and the
                 // target holds whole trades
};

class ConversionReport {
 public:
  virtual ~ConversionReport() = default;

  // Whether the report wants the count of source trades before the first
  // one (it costs a pass over the source).
  virtual bool wantsTradeCount() const { return false; }
  // The source holds `trades` trades; called before the first trade, when
  // wanted.
  virtual void counted(uint64_t trades) { (void)trades; }

  // Another conversion holds the target: this one waits for it to end.
  virtual void waiting() {}

  // A trade the target already holds.
  virtual void alreadyInTarget(const std::string& key) = 0;
  // A trade whose key the target record cannot hold whole: passed over.
  virtual void unstorableKey(const std::string& key) = 0;
  // A trade whose first field is not a number above 10: passed over.
  virtual void belowThreshold(const std::string& key) { (void)key; }
  // A trade imported whole.
  virtual void added(const std::string& key) = 0;
  // The trades added so far are durable.
  virtual void groupEnded() {}
  // A step failed and ended the run at `stage`.
  virtual void failed(const RunFailure& failure, RunStage stage) = 0;
};

#endif  // CONVERT_CONVERSION_CONVERSION_REPORT_H_

// Runs the built convert.cgi as a child process with a controlled CGI
// environment.
#ifndef CONVERT_TESTING_CGI_RUNNER_H_
#define CONVERT_TESTING_CGI_RUNNER_H_

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct CgiRequest {
  std::optional<std::string> contentLength;  // not set when empty
  std::optional<std::string> scriptFilename =
      std::string("/srv/cgi-bin/convert.cgi");
  std::optional<std::string> remoteAddress = std::string("192.0.2.7");
  std::string tz = "UTC";
  std::string body;  // standard input
  // Run as this user and group instead of root, when set.
  std::optional<unsigned> runAsUid;
  // A file size limit for the child, with SIGXFSZ ignored, when set.
  std::optional<unsigned long long> fileSizeLimit;
  // The child's working directory, when set; the test's otherwise.
  std::optional<std::string> workingDirectory;
  // The child is killed when it runs longer or holds more memory than this.
  std::chrono::milliseconds timeout = std::chrono::seconds(60);
  unsigned long long memoryLimitBytes = 1ull << 30;
};

struct CgiResult {
  std::string page;     // everything written to standard output
  int exitStatus = -1;  // -1 when the child did not exit normally
  int termSignal = 0;   // the signal that ended the child, if one did
  bool timedOut = false;
  bool memoryExceeded = false;
};

// A request posting `body` with the matching CONTENT_LENGTH.
CgiRequest postRequest(const std::string& body);

// Runs the request to its end (or its timeout).
CgiResult runConvertCgi(const CgiRequest& request);

// A child started at construction that runs while the test goes on. The body is
// fed and the page collected on a thread of its own.
class RunningCgi {
 public:
  explicit RunningCgi(const CgiRequest& request);
  ~RunningCgi();  // waits for the end (the timeout kills a child left behind)
  RunningCgi(const RunningCgi&) = delete;
  RunningCgi& operator=(const RunningCgi&) = delete;

  pid_t pid() const { return pid_; }
  // Waits until `ready` holds for the page written so far, or the child has
  // ended, or `timeout` passed. Returns whether `ready` held.
  bool waitForPage(const std::function<bool(const std::string&)>& ready,
                   std::chrono::milliseconds timeout);
  // Waits for the end of the child.
  CgiResult finish();

 private:
  void collect(int inputFd, int outputFd, std::string body,
               std::chrono::milliseconds timeout,
               unsigned long long memoryLimit);

  pid_t pid_ = -1;
  std::thread collector_;
  std::mutex mutex_;
  std::condition_variable changed_;
  CgiResult result_;
  bool ended_ = false;
};

// How often `text` occurs in `page`.
std::size_t countOccurrences(const std::string& page, const std::string& text);

// The fixed texts that a page ends with.
inline constexpr char kLoadingLine[] = "loading conversion module...<br>\n";
inline constexpr char kClosingBlock[] =
    "<hr size=1 color=silver width=50% align=left></div>\n</body>\n</html>\n";
inline constexpr char kOpenFailedLead[] = "Unable to open file";
inline constexpr char kReadFailedLead[] = "Unable to read file";
inline constexpr char kWriteFailedLead[] = "Unable to write file";
inline constexpr char kNoFreeIdLead[] = "No free trade identifier in";

// The error block that ends a page: `lead`, the path as shown (already
// escaped), and the return link "convert.cgi" when `withLink`.
std::string expectedErrorBlock(const std::string& lead,
                               const std::string& shownPath, bool withLink);

// What follows the form on the page; the whole page when it holds no form.
std::string pageAfterForm(const std::string& page);

#endif  // CONVERT_TESTING_CGI_RUNNER_H_

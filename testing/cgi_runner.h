// Runs convert.cgi with a controlled CGI environment: the built program as a
// child process, or its request driver inside the test.
#ifndef CONVERT_TESTING_CGI_RUNNER_H_
#define CONVERT_TESTING_CGI_RUNNER_H_

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cgi/form_decoder.h"

struct CgiRequest {
  std::optional<std::string> requestMethod = std::string("GET");
  std::optional<std::string> contentLength;  // not set when empty
  std::optional<std::string> scriptFilename =
      std::string("/srv/cgi-bin/convert.cgi");
  std::optional<std::string> remoteAddress = std::string("192.0.2.7");
  std::string tz = "UTC";
  // More CGI variables, "NAME=value": HTTP_ORIGIN, SCRIPT_NAME and the like.
  std::vector<std::string> variables;
  std::string body;  // standard input
  // Run as this user and group instead of root, when set.
  std::optional<unsigned> runAsUid;
  // A file size limit for the child, with SIGXFSZ ignored, when set.
  std::optional<uint64_t> fileSizeLimit;
  // The child's working directory, when set; the test's otherwise.
  std::optional<std::string> workingDirectory;
  // The child is killed when it runs longer or holds more memory than this.
  std::chrono::milliseconds timeout = std::chrono::seconds(60);
  uint64_t memoryLimitBytes = uint64_t{1} << 30;
  // Reads the program's peak memory from wait4's rusage, through a small
  // launcher (GNU time): a child forked from the test would count the test's
  // memory as its own. pid() is then the launcher's.
  bool measurePeakMemory = false;
};

struct CgiResult {
  std::string page;     // everything written to standard output
  int exitStatus = -1;  // -1 when the child did not exit normally
  int termSignal = 0;   // the signal that ended the child, if one did
  bool timedOut = false;
  bool memoryExceeded = false;
  // The program's peak resident memory, with measurePeakMemory.
  uint64_t peakMemoryBytes = 0;
};

// A POST request of `body` with the matching CONTENT_LENGTH. The request and
// the runs below take the body by value: a test that moves a body of hundreds
// of megabytes in holds it once.
CgiRequest postRequest(std::string body);

// Runs the request to its end (or its timeout).
CgiResult runConvertCgi(CgiRequest request);

// Serves the request in this process through readEnvironment and runRequest,
// in the request's working directory, and returns the page. TZ is set to the
// request's and left so; the user and the file size limit are not changed.
std::string runInProcess(const CgiRequest& request);

// The texts of form values, in order.
std::vector<std::string> valueTexts(const std::vector<FormValue>& values);

// A child started at construction that runs while the test goes on. The body is
// fed and the page collected on a thread of its own.
class RunningCgi {
 public:
  explicit RunningCgi(CgiRequest request);
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
               std::chrono::milliseconds timeout, uint64_t memoryLimit);

  pid_t pid_ = -1;
  std::string peakMemoryFile_;  // where the launcher writes the peak
  std::thread collector_;
  std::mutex mutex_;
  std::condition_variable changed_;
  CgiResult result_;
  bool ended_ = false;
};

#endif  // CONVERT_TESTING_CGI_RUNNER_H_

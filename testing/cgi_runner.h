// Runs the built convert.cgi as a child process with a controlled CGI
// environment.
#ifndef CONVERT_TESTING_CGI_RUNNER_H_
#define CONVERT_TESTING_CGI_RUNNER_H_

#include <optional>
#include <string>

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
};

struct CgiResult {
  std::string page;     // everything written to standard output
  int exitStatus = -1;  // -1 when the child did not exit normally
};

// A request posting `body` with the matching CONTENT_LENGTH.
CgiRequest postRequest(const std::string& body);

CgiResult runConvertCgi(const CgiRequest& request);

#endif  // CONVERT_TESTING_CGI_RUNNER_H_

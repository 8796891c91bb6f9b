#include "testing/cgi_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

CgiRequest postRequest(const std::string& body) {
  CgiRequest request;
  request.contentLength = std::to_string(body.size());
  request.body = body;
  return request;
}

namespace {

[[noreturn]] void execChild(const CgiRequest& request, int inputFd,
                            int outputFd) {
  dup2(inputFd, 0);
  dup2(outputFd, 1);
  std::vector<std::string> variables;
  if (request.contentLength)
    variables.push_back("CONTENT_LENGTH=" + *request.contentLength);
  if (request.scriptFilename)
    variables.push_back("SCRIPT_FILENAME=" + *request.scriptFilename);
  if (request.remoteAddress)
    variables.push_back("REMOTE_ADDR=" + *request.remoteAddress);
  variables.push_back("TZ=" + request.tz);
  std::vector<char*> environment;
  for (std::string& variable : variables)
    environment.push_back(variable.data());
  environment.push_back(nullptr);
  if (request.fileSizeLimit) {
    signal(SIGXFSZ,
           SIG_IGN);  // kept across exec: the write then fails with EFBIG
    const rlimit limit{*request.fileSizeLimit, *request.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (request.runAsUid) {
    const gid_t group = static_cast<gid_t>(*request.runAsUid);
    if (setgroups(0, nullptr) != 0 || setgid(group) != 0 ||
        setuid(*request.runAsUid) != 0) {
      _exit(126);
    }
  }
  char program[] = CONVERT_CGI_PATH;
  char* arguments[] = {program, nullptr};
  execve(program, arguments, environment.data());
  _exit(127);
}

}  // namespace

CgiResult runConvertCgi(const CgiRequest& request) {
  CgiResult result;
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0) return result;
  if (pipe2(output, O_CLOEXEC) != 0) return result;
  const pid_t child = fork();
  if (child == 0) execChild(request, input[0], output[1]);
  close(input[0]);
  close(output[1]);
  // Feed the body and collect the page together, so that neither pipe can fill
  // up.
  std::size_t fed = 0;
  bool inputOpen = true;
  if (request.body.empty()) {
    close(input[1]);
    inputOpen = false;
  }
  signal(SIGPIPE, SIG_IGN);
  char buffer[65536];
  for (;;) {
    pollfd fds[2] = {{output[0], POLLIN, 0},
                     {inputOpen ? input[1] : -1, POLLOUT, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inputOpen && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n =
          write(input[1], request.body.data() + fed, request.body.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 || fed == request.body.size()) {
        close(input[1]);
        inputOpen = false;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(output[0], buffer, sizeof buffer);
      if (n <= 0) break;
      result.page.append(buffer, static_cast<std::size_t>(n));
    }
  }
  if (inputOpen) close(input[1]);
  close(output[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#include "testing/cgi_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cgi/request_driver.h"

CgiRequest postRequest(std::string body) {
  CgiRequest request;
  request.requestMethod = "POST";
  request.contentLength = std::to_string(body.size());
  request.body = std::move(body);
  return request;
}

namespace {

// The request's CGI environment, "NAME=value" each.
std::vector<std::string> cgiVariables(const CgiRequest& request) {
  std::vector<std::string> variables;
  if (request.requestMethod)
    variables.push_back("REQUEST_METHOD=" + *request.requestMethod);
  if (request.contentLength)
    variables.push_back("CONTENT_LENGTH=" + *request.contentLength);
  if (request.scriptFilename)
    variables.push_back("SCRIPT_FILENAME=" + *request.scriptFilename);
  if (request.remoteAddress)
    variables.push_back("REMOTE_ADDR=" + *request.remoteAddress);
  variables.push_back("TZ=" + request.tz);
  variables.insert(variables.end(), request.variables.begin(),
                   request.variables.end());
  return variables;
}

// Everything the child needs, made before the fork: between fork and exec the
// child of a threaded parent may only make async-signal-safe calls.
struct ChildPlan {
  std::vector<std::string> variables;
  std::vector<char*> environment;
  std::optional<std::string> workingDirectory;
  std::optional<uint64_t> fileSizeLimit;
  std::optional<unsigned> runAsUid;
  std::string program;         // the program to run
  std::string peakMemoryFile;  // run through the launcher when set
};

// The program as another user can run it: a clone in a folder that other
// users cannot enter (root's home) holds a program they cannot reach, so it
// is copied, once, to a folder under /tmp that they can, removed at exit.
const std::string& programForOtherUsers() {
  struct Copy {
    std::string folder;
    std::string program;
    Copy() {
      char pattern[] = "/tmp/convert-program-XXXXXX";
      if (mkdtemp(pattern) == nullptr) return;
      folder = pattern;
      chmod(folder.c_str(), 0755);
      std::error_code ec;
      std::filesystem::copy_file(CONVERT_CGI_PATH, folder + "/convert.cgi", ec);
      if (!ec) program = folder + "/convert.cgi";
      chmod(program.c_str(), 0755);
    }
    ~Copy() {
      std::error_code ec;
      if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
  };
  static const Copy copy;
  return copy.program;
}

ChildPlan planChild(const CgiRequest& request) {
  ChildPlan plan;
  plan.variables = cgiVariables(request);
  for (std::string& variable : plan.variables)
    plan.environment.push_back(variable.data());
  plan.environment.push_back(nullptr);
  plan.workingDirectory = request.workingDirectory;
  plan.fileSizeLimit = request.fileSizeLimit;
  plan.runAsUid = request.runAsUid;
  plan.program = request.runAsUid ? programForOtherUsers() : CONVERT_CGI_PATH;
  return plan;
}

[[noreturn]] void execChild(ChildPlan* plan, int inputFd, int outputFd) {
  dup2(inputFd, 0);
  dup2(outputFd, 1);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  umask(022);  // the modes of the files the program creates are then known
  if (plan->workingDirectory && chdir(plan->workingDirectory->c_str()) != 0)
    _exit(125);
  if (plan->fileSizeLimit) {
    // Kept across exec: the write then fails with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{*plan->fileSizeLimit, *plan->fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (plan->runAsUid) {
    const gid_t group = static_cast<gid_t>(*plan->runAsUid);
    if (setgroups(0, nullptr) != 0 || setgid(group) != 0 ||
        setuid(*plan->runAsUid) != 0) {
      _exit(126);
    }
  }
  char* program = plan->program.data();
  char* arguments[] = {program, nullptr};
  if (!plan->peakMemoryFile.empty()) {
    char launcher[] = "/usr/bin/time";
    char format[] = "-f%M";  // KiB
    char output[] = "-o";
    char* launched[] = {launcher, format, output, plan->peakMemoryFile.data(),
                        program,  nullptr};
    execve(launcher, launched, plan->environment.data());
    _exit(127);
  }
  execve(program, arguments, plan->environment.data());
  _exit(127);
}

uint64_t residentBytes(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  uint64_t size = 0;
  uint64_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

RunningCgi::RunningCgi(CgiRequest request) {
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0) return;
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    return;
  }
  signal(SIGPIPE, SIG_IGN);  // a child that ends early must not end the test
  ChildPlan plan = planChild(request);
  if (request.measurePeakMemory) {
    char name[] = "/tmp/convert_peak.XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    peakMemoryFile_ = plan.peakMemoryFile = name;
  }
  pid_ = fork();
  if (pid_ == 0) execChild(&plan, input[0], output[1]);
  close(input[0]);
  close(output[1]);
  if (pid_ < 0) {
    close(input[1]);
    close(output[0]);
    ended_ = true;
    return;
  }
  collector_ = std::thread(&RunningCgi::collect, this, input[1], output[0],
                           std::move(request.body), request.timeout,
                           request.memoryLimitBytes);
}

RunningCgi::~RunningCgi() {
  if (collector_.joinable()) collector_.join();
}

void RunningCgi::collect(int inputFd, int outputFd, std::string body,
                         std::chrono::milliseconds timeout,
                         uint64_t memoryLimit) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool killed = false;
  auto killChild = [&](bool* reason) {
    if (killed) return;
    std::lock_guard<std::mutex> lock(mutex_);
    *reason = true;
    kill(pid_, SIGKILL);
    killed = true;
  };
  // Feed the body and collect the page together, so that neither pipe can fill
  // up.
  std::size_t fed = 0;
  bool inputOpen = true;
  if (body.empty()) {
    close(inputFd);
    inputOpen = false;
  }
  char buffer[65536];
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline)
      killChild(&result_.timedOut);
    if (!killed && residentBytes(pid_) > memoryLimit)
      killChild(&result_.memoryExceeded);
    pollfd fds[2] = {{outputFd, POLLIN, 0},
                     {inputOpen ? inputFd : -1, POLLOUT, 0}};
    if (poll(fds, 2, 20) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inputOpen && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(inputFd, body.data() + fed, body.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 || fed == body.size()) {
        close(inputFd);
        inputOpen = false;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(outputFd, buffer, sizeof buffer);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      result_.page.append(buffer, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
  }
  if (inputOpen) close(inputFd);
  close(outputFd);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline)
      killChild(&result_.timedOut);
    usleep(5000);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!peakMemoryFile_.empty()) {
    // The launcher's last line is the program's peak, in KiB.
    std::ifstream peak(peakMemoryFile_);
    std::string line, last;
    while (std::getline(peak, line)) last = line;
    result_.peakMemoryBytes = std::strtoull(last.c_str(), nullptr, 10) << 10;
    unlink(peakMemoryFile_.c_str());
  }
  result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result_.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  ended_ = true;
  changed_.notify_all();
}

bool RunningCgi::waitForPage(
    const std::function<bool(const std::string&)>& ready,
    std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return ready(result_.page) || ended_; });
  return ready(result_.page);
}

CgiResult RunningCgi::finish() {
  if (collector_.joinable()) collector_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return result_;
}

CgiResult runConvertCgi(CgiRequest request) {
  return RunningCgi(std::move(request)).finish();
}

std::string runInProcess(const CgiRequest& request) {
  const std::vector<std::string> variables = cgiVariables(request);
  const Environment environment =
      readEnvironment([&variables](const char* name) -> const char* {
        const std::string prefix = std::string(name) + "=";
        for (const std::string& variable : variables) {
          if (variable.compare(0, prefix.size(), prefix) == 0)
            return variable.c_str() + prefix.size();
        }
        return nullptr;
      });
  const char* tz = std::getenv("TZ");
  if (tz == nullptr || request.tz != tz) {
    setenv("TZ", request.tz.c_str(), 1);
    tzset();
  }
  // The test's own directory, to come back to.
  const int home = request.workingDirectory
                       ? open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                       : -1;
  if (request.workingDirectory &&
      chdir(request.workingDirectory->c_str()) != 0) {
    close(home);
    return "<no working directory>";
  }
  std::istringstream input(request.body);
  std::ostringstream page;
  runRequest(environment, input, page);
  if (home >= 0) {
    if (fchdir(home) != 0) page << "<working directory not restored>";
    close(home);
  }
  return page.str();
}

std::vector<std::string> valueTexts(const std::vector<FormValue>& values) {
  std::vector<std::string> texts;
  for (const FormValue& value : values) texts.push_back(value.text());
  return texts;
}

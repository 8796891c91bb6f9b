#include "testing/toplist_gate.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

ToplistGate::ToplistGate(const std::string& target)
    : path_(target + "d/tl.a1") {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  ::mkfifo(path_.c_str(), 0666);
  // For a run as another user, whatever the umask.
  ::chmod(path_.c_str(), 0666);
}
ToplistGate::~ToplistGate() {
  if (writer_ >= 0) ::close(writer_);
}

bool ToplistGate::waitForRun(std::chrono::milliseconds timeout) {
  // Opening the write end without blocking succeeds once the run has opened
  // the toplist to read it.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (writer_ < 0) {
    writer_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer_ >= 0) break;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(1000);
  }
  return true;
}

std::string ToplistGate::release(const std::string& firstLine,
                                 std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto expired = [&] {
    return std::chrono::steady_clock::now() > deadline;
  };
  if (writer_ < 0 || ::write(writer_, firstLine.data(), firstLine.size()) !=
                         static_cast<ssize_t>(firstLine.size())) {
    return "<timeout>";
  }
  // Close only once the run has taken the line: a reader opened by the test
  // before then could take it instead.
  int unread = 1;
  while (::ioctl(writer_, FIONREAD, &unread) == 0 && unread > 0) {
    if (expired()) return "<timeout>";
    ::usleep(1000);
  }
  ::close(writer_);
  writer_ = -1;
  // The run's append waits for a reader; it writes its line and closes.
  const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (reader < 0) return "<timeout>";
  std::string appended;
  for (;;) {
    pollfd fd{reader, POLLIN, 0};
    if (::poll(&fd, 1, 20) < 0 && errno != EINTR) break;
    if (fd.revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      const ssize_t n = ::read(reader, buffer, sizeof buffer);
      if (n > 0) {
        appended.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 && (fd.revents & POLLHUP)) break;  // the run closed it
    }
    if (expired()) {
      appended = "<timeout>";
      break;
    }
  }
  ::close(reader);
  return appended;
}

#include "testing/toplist_gate.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include "import/installation_paths.h"

ToplistGate::ToplistGate(const std::string& target)
    : path_(toplistPath(target)) {
  fanotify_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK,
                            O_RDONLY | O_CLOEXEC);
  if (fanotify_ >= 0 && fanotify_mark(fanotify_, FAN_MARK_ADD, FAN_OPEN_PERM,
                                      AT_FDCWD, path_.c_str()) != 0) {
    close(fanotify_);
    fanotify_ = -1;
  }
}

ToplistGate::~ToplistGate() {
  release();
  // Closing the group answers any open still waiting on it.
  if (fanotify_ >= 0) close(fanotify_);
}

bool ToplistGate::waitForRun(std::chrono::milliseconds timeout) {
  if (fanotify_ < 0) return false;
  pollfd ready{fanotify_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return false;
  fanotify_event_metadata event;
  if (read(fanotify_, &event, sizeof event) != sizeof event ||
      !(event.mask & FAN_OPEN_PERM)) {
    return false;
  }
  held_ = event.fd;
  // From now on nothing else is held: the held open waits for its answer all
  // the same.
  fanotify_mark(fanotify_, FAN_MARK_REMOVE, FAN_OPEN_PERM, AT_FDCWD,
                path_.c_str());
  return true;
}

void ToplistGate::release() {
  if (held_ < 0) return;
  const fanotify_response answer{held_, FAN_ALLOW};
  (void)!write(fanotify_, &answer, sizeof answer);
  close(held_);
  held_ = -1;
}

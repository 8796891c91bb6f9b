// bench_launch: runs one program as a child and reports what it cost, measured
// by the operating system rather than by the program itself.
//
//   bench_launch STDIN_FILE STDOUT_FILE PROGRAM [ARGUMENT...]
//
// The child gets this process's environment, STDIN_FILE as standard input and
// STDOUT_FILE (created or emptied) as standard output. On success one line goes
// to standard output:
//
//   wall_seconds=W cpu_seconds=U max_rss_kib=R write_chars=B write_calls=C
//   read_chars=D read_calls=E write_bytes=F cancelled_write_bytes=G
//   exit_status=S
//
// wall time runs from just before fork to the child's exit; the processor time
// (user and system) and the peak resident set come from wait4's rusage; the
// byte and call counts come from the child's /proc/PID/io, read while it is a
// zombie, so they cover every write it made (files and page alike). The chars
// are what passed through write and read calls (wchar, rchar); write_bytes
// is what the child sent towards storage, counted a page at a time as it made
// page-cache pages dirty (nothing on a memory file system), and
// cancelled_write_bytes what of that it threw away again before it was written
// out, by truncating or deleting. A count that cannot be read is -1.
//
// The launcher is a small process on purpose: a forked child's resident set
// before exec counts towards its peak, so a big parent would inflate it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) +
         static_cast<double>(tv.tv_usec) * 1e-6;
}

double nowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) +
         static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One counter of /proc/PID/io ("wchar: 123"), or -1.
long long ioCounter(const char* text, const char* name) {
  const char* at = std::strstr(text, name);
  if (at == nullptr) return -1;
  return std::strtoll(at + std::strlen(name), nullptr, 10);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: bench_launch STDIN_FILE STDOUT_FILE PROGRAM [ARG...]\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) {
    std::perror("bench_launch: opening the standard files");
    return 2;
  }
  const double start = nowSeconds();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("bench_launch: fork");
    return 2;
  }
  if (pid == 0) {
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(127);
    execv(argv[3], argv + 3);
    _exit(127);
  }
  // Wait without reaping, so that /proc/PID/io still holds the child's counts.
  siginfo_t info;
  int waited;
  do {
    waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (waited != 0 && errno == EINTR);
  const double wall = nowSeconds() - start;

  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
  char text[1024] = {};
  const int io = open(path, O_RDONLY | O_CLOEXEC);
  if (io >= 0) {
    const ssize_t n = read(io, text, sizeof text - 1);
    if (n > 0) text[n] = '\0';
    close(io);
  }

  int status = 0;
  rusage usage;
  std::memset(&usage, 0, sizeof usage);
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("bench_launch: wait4");
    return 2;
  }
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::printf(
      "wall_seconds=%.6f cpu_seconds=%.6f max_rss_kib=%ld write_chars=%lld "
      "write_calls=%lld read_chars=%lld read_calls=%lld write_bytes=%lld "
      "cancelled_write_bytes=%lld exit_status=%d\n",
      wall, seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss,
      ioCounter(text, "wchar:"), ioCounter(text, "syscw:"),
      ioCounter(text, "rchar:"), ioCounter(text, "syscr:"),
      ioCounter(text, "\nwrite_bytes:"),
      ioCounter(text, "cancelled_write_bytes:"), exitStatus);
  return 0;
}

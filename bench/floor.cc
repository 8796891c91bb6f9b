// bench_floor: the least file work that importing trades costs, with none of
// the conversion's parsing or formatting. The benchmark runs it on a copy of
// the same target installation as convert.cgi and divides the two times.
//
//   bench_floor TARGET_DIR KEYS_FILE FIRST_ID TOPLIST_BYTES CAPS_BYTES
//               SUMMARY_BYTES
//
// For the n-th line of KEYS_FILE (a trade key), with identifier FIRST_ID + n:
// read d/t/i and rewrite it in place, append a 996-byte record to d/t/index,
// read the first block of d/tl.a1 and append a TOPLIST_BYTES line, append
// CAPS_BYTES to d/caps, create d/t/<id> with its 80,640 bytes reserved by
// fallocate (zeros written only where the file system refuses), append
// SUMMARY_BYTES to d/t/sum, create the empty d/h/<key>.his, and give both new
// files mode 0777 through the descriptor already open. Every file is opened and
// closed per trade, as the conversion must, and every step takes the cheapest
// call known for it, so that the ratio to the conversion is not flattered by a
// slow floor. The line contents are filler of the right length: only their size
// matters.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/installation_paths.h"

namespace {

constexpr std::size_t kRecordSize = 996;
constexpr std::size_t kStatsFileSize = 80640;
char gZeros[kStatsFileSize];
char gFiller[4096];

[[noreturn]] void fail(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

void writeOrFail(int fd, const char* bytes, std::size_t size,
                 const std::string& path) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n <= 0) fail("write " + path);
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void append(const std::string& path, const char* bytes, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
  if (fd < 0) fail("open " + path);
  writeOrFail(fd, bytes, size, path);
  if (close(fd) != 0) fail("close " + path);
}

// Overwrites the file that held `oldSize` bytes with `text`, in place: ext4
// starts writing a file out on close when it was emptied by O_TRUNC, and
// waits for that at the next truncation, which costs a disk write per trade.
void rewrite(const std::string& path, const std::string& text,
             std::size_t oldSize) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) fail("open " + path);
  if (pwrite(fd, text.data(), text.size(), 0) !=
      static_cast<ssize_t>(text.size())) {
    fail("write " + path);
  }
  if (oldSize > text.size() &&
      ftruncate(fd, static_cast<off_t>(text.size())) != 0) {
    fail("truncate " + path);
  }
  if (close(fd) != 0) fail("close " + path);
}

// Creates a new file of kStatsFileSize zero bytes with mode 0777. The space is
// reserved, not written: mode 0 of fallocate allocates it and it reads as
// zeros. Only a file system without fallocate gets the zeros written.
void createStatsFile(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  if (fd < 0) fail("open " + path);
  if (fallocate(fd, 0, 0, static_cast<off_t>(kStatsFileSize)) != 0) {
    if (errno != EOPNOTSUPP && errno != ENOSYS) fail("fallocate " + path);
    writeOrFail(fd, gZeros, sizeof gZeros, path);
  }
  if (fchmod(fd, 0777) != 0) fail("fchmod " + path);
  if (close(fd) != 0) fail("close " + path);
}

// Creates the empty file with mode 0777.
void createEmptyFile(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  if (fd < 0) fail("open " + path);
  if (fchmod(fd, 0777) != 0) fail("fchmod " + path);
  if (close(fd) != 0) fail("close " + path);
}

// Returns the number of bytes read.
std::size_t readFirstBlock(const std::string& path, char* buffer,
                           std::size_t size) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) fail("open " + path);
  const ssize_t n = read(fd, buffer, size);
  if (n < 0) fail("read " + path);
  close(fd);
  return static_cast<std::size_t>(n);
}

std::vector<std::string> readKeys(const char* path) {
  std::vector<std::string> keys;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) fail(std::string("open ") + path);
  std::string key;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (c == '\n') {
      keys.push_back(key);
      key.clear();
    } else {
      key.push_back(static_cast<char>(c));
    }
  }
  std::fclose(file);
  return keys;
}

std::size_t sizeArgument(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value < 1 || value > static_cast<long>(sizeof gFiller)) {
    std::fprintf(stderr, "bench_floor: bad line size %s\n", text);
    std::exit(2);
  }
  return static_cast<std::size_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: bench_floor TARGET_DIR KEYS_FILE FIRST_ID "
                 "TOPLIST_BYTES CAPS_BYTES SUMMARY_BYTES\n");
    return 2;
  }
  const std::string target = argv[1];
  const std::vector<std::string> keys = readKeys(argv[2]);
  long id = std::strtol(argv[3], nullptr, 10);
  const std::size_t toplistBytes = sizeArgument(argv[4]);
  const std::size_t capsBytes = sizeArgument(argv[5]);
  const std::size_t summaryBytes = sizeArgument(argv[6]);
  for (char& c : gFiller) c = '0';

  const std::string counter = counterPath(target);
  const std::string index = targetIndexPath(target);
  const std::string toplist = toplistPath(target);
  const std::string caps = capsPath(target);
  const std::string summary = summaryPath(target);
  char record[kRecordSize] = {};
  char block[4096];

  for (const std::string& key : keys) {
    const std::string idText = std::to_string(id++);
    rewrite(counter, idText, readFirstBlock(counter, block, sizeof block));
    append(index, record, sizeof record);
    readFirstBlock(toplist, block, sizeof block);
    append(toplist, gFiller, toplistBytes);
    append(caps, gFiller, capsBytes);
    createStatsFile(statsFilePath(target, idText));
    append(summary, gFiller, summaryBytes);
    createEmptyFile(historyFilePath(target, key));
  }
  return 0;
}

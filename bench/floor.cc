// bench_floor: the least file work that importing trades costs, with none of
// the conversion's parsing or formatting. The benchmark runs it on a copy of
// the same target installation as convert.cgi and divides the two times.
//
//   bench_floor TARGET_DIR KEYS_FILE FIRST_ID TOPLIST_BYTES CAPS_BYTES
//               SUMMARY_BYTES
//
// For the n-th line of KEYS_FILE (a trade key), with identifier FIRST_ID + n:
// read and rewrite d/t/i, append a 996-byte record to d/t/index, read the
// first block of d/tl.a1 and append a TOPLIST_BYTES line, append CAPS_BYTES to
// d/caps, create d/t/<id> with one 80,640-byte write, append SUMMARY_BYTES to
// d/t/sum, create the empty d/h/<key>.his and give both new files mode 0777.
// Every file is opened and closed per trade, as the conversion must. The line
// contents are filler of the right length: only their size matters here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

void replace(const std::string& path, const char* bytes, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) fail("open " + path);
  writeOrFail(fd, bytes, size, path);
  if (close(fd) != 0) fail("close " + path);
}

void readFirstBlock(const std::string& path, char* buffer, std::size_t size) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) fail("open " + path);
  if (read(fd, buffer, size) < 0) fail("read " + path);
  close(fd);
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

  const std::string counterPath = target + "d/t/i";
  const std::string indexPath = target + "d/t/index";
  const std::string toplistPath = target + "d/tl.a1";
  const std::string capsPath = target + "d/caps";
  const std::string summaryPath = target + "d/t/sum";
  const std::string statsPrefix = target + "d/t/";
  const std::string historyPrefix = target + "d/h/";
  char record[kRecordSize] = {};
  char block[4096];

  for (const std::string& key : keys) {
    const std::string idText = std::to_string(id++);
    readFirstBlock(counterPath, block, sizeof block);
    replace(counterPath, idText.data(), idText.size());
    append(indexPath, record, sizeof record);
    readFirstBlock(toplistPath, block, sizeof block);
    append(toplistPath, gFiller, toplistBytes);
    append(capsPath, gFiller, capsBytes);
    const std::string statsPath = statsPrefix + idText;
    replace(statsPath, gZeros, sizeof gZeros);
    append(summaryPath, gFiller, summaryBytes);
    chmod(statsPath.c_str(), 0777);
    const std::string historyPath = historyPrefix + key + ".his";
    replace(historyPath, nullptr, 0);
    chmod(historyPath.c_str(), 0777);
  }
  return 0;
}

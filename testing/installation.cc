#include "testing/installation.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "import/target_trade.h"

SourceFields sampleTrade(const std::string& number, const std::string& key) {
  SourceFields trade;
  for (int i = 1; i <= 30; ++i) trade[i] = "v" + std::to_string(i);
  trade[1] = number;
  trade[2] = key;
  for (int i = 10; i <= 15; ++i) trade[i] = std::to_string(i * 3);
  trade[16] = "16";
  trade[20] = "";
  return trade;
}

std::string sourceLine(const SourceFields& trade) {
  std::string line = "|";
  for (const std::string& field : trade.fields) line += field + "|";
  return line + "\n";
}

std::string targetRecordBytes(int32_t id, const std::string& key) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kIdField, id);
  writeText(&record, kKeyField, key);
  return std::string(reinterpret_cast<const char*>(record.bytes),
                     kTargetTradeSize);
}

Installations::Installations() : Installations("tn3/", "kv2/") {}

Installations::Installations(const std::string& sourceName,
                             const std::string& targetName)
    : source(dir.path() + sourceName), target(dir.path() + targetName) {
  writeFile(source + "d/t/index", "");
  writeFile(target + "d/t/index", "");
  writeFile(target + "d/t/i", "10");
  writeFile(target + "d/tl.a1", "|a|b|c|d|e|f|\n");
  writeFile(target + "d/caps", "");
  writeFile(target + "d/t/sum", "");
  makeDirectories(target + "d/h");
}

void Installations::writeSourceIndex(
    const std::vector<SourceFields>& trades) const {
  std::string contents;
  for (const SourceFields& trade : trades) contents += sourceLine(trade);
  writeFile(source + "d/t/index", contents);
}

void Installations::writeTargetIndex(
    const std::vector<std::string>& records) const {
  std::string contents;
  for (const std::string& record : records) contents += record;
  writeFile(target + "d/t/index", contents);
}

namespace {
std::string encodeFormValue(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
        byte == '.') {
      encoded.push_back(c);
    } else if (byte == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    }
  }
  return encoded;
}
}  // namespace

std::string formBody(const std::string& source, const std::string& target) {
  return "tolvane3=" + encodeFormValue(source) +
         "&kavrelv2=" + encodeFormValue(target) + "&submit=submit";
}

std::string addedByNoteToday(const std::string& address) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char date[13];
  std::strftime(date, sizeof date, "%d %b, %Y", &utc);
  return "added by " + address + " on " + date;
}

std::string sampleTradeRecord(int32_t id, const std::string& key,
                              const std::string& note) {
  TargetTrade record;
  initTargetTrade(&record);
  writeInt32(&record, kIdField, id);
  writeText(&record, kKeyField, key);
  writeText(&record, kText3Field, "v3");
  writeText(&record, kText21Field, "v21");
  writeText(&record, kText4Field, "v4");
  writeText(&record, kText5Field, "v5");
  writeText(&record, kText6Field, "v6");
  writeText(&record, kNoteField, note);
  writeInt32(&record, kNumber16Field, 16);
  writeInt32(&record, kNumber12Field, 1);  // field12 is 36, outside 0 to 2
  writeInt32(&record, kNumber11Field, 33);
  for (std::size_t i = 0; i < 24; ++i)
    writeInt32(&record, kSlots10Field, 30, i);
  return std::string(reinterpret_cast<const char*>(record.bytes),
                     kTargetTradeSize);
}

std::string sampleToplistLine(const std::string& key) {
  return "|" + key + "|v17|v18|v19|||\n";
}

std::string sampleCapsLines(int32_t id) {
  const std::string idText = std::to_string(id);
  return "|" + idText + "|1|39|\n|" + idText + "|2|42|\n|" + idText +
         "|3|45|\n";
}

std::string sampleSummaryLine(int32_t id) {
  std::string line = "|" + std::to_string(id);
  for (int i = 0; i < 42; ++i) line += "|0";
  return line + "|\n";
}

FileTree readTree(const std::string& root) {
  FileTree tree;
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(root, ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().string();
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    TreeEntry entry;
    entry.mode = static_cast<int>(info.st_mode & 07777);
    if (S_ISDIR(info.st_mode)) {
      entry.kind = 'd';
    } else if (S_ISLNK(info.st_mode)) {
      entry.kind = 'l';
      entry.mode = 0;
      std::error_code linkError;
      entry.bytes = std::filesystem::read_symlink(path, linkError).string();
    } else if (S_ISFIFO(info.st_mode)) {
      entry.kind = 'p';
    } else {
      entry.bytes = readFile(path);
    }
    tree[path.substr(root.size())] = entry;
  }
  return tree;
}

namespace {
std::string printable(const std::string& bytes) {
  if (bytes.size() > 300) {
    const bool allZero = bytes.find_first_not_of('\0') == std::string::npos;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : bytes) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return std::to_string(bytes.size()) + " bytes, " +
           (allZero ? std::string("all zero") : "hash " + std::to_string(hash));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text = "\"";
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      text.push_back(c);
    } else {
      text += "\\x";
      text.push_back(kHex[byte >> 4]);
      text.push_back(kHex[byte & 15]);
    }
  }
  return text + "\"";
}
}  // namespace

std::vector<std::string> describeTree(const FileTree& tree) {
  std::vector<std::string> lines;
  for (const auto& [path, entry] : tree) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", entry.mode);
    std::string line = path + " " + entry.kind + " " + mode;
    if (entry.kind == 'f' || entry.kind == 'l')
      line += " " + printable(entry.bytes);
    lines.push_back(line);
  }
  return lines;
}

namespace {
// Appends as the program does: the file is created when missing.
void appendTo(FileTree* tree, const std::string& path,
              const std::string& bytes) {
  TreeEntry& entry = (*tree)[path];
  if (entry.kind == 'f') entry.bytes += bytes;
}
}  // namespace

void applyImport(FileTree* tree, const std::string& target, int32_t id,
                 const std::string& key, ImportStep failedStep) {
  applyImportSteps(tree, target, id, key, ImportStep::counter, failedStep);
}

void applyImportSteps(FileTree* tree, const std::string& target, int32_t id,
                      const std::string& key, ImportStep firstStep,
                      ImportStep failedStep) {
  const auto before = [&](ImportStep step) {
    return step >= firstStep && step < failedStep;
  };
  if (before(ImportStep::counter))
    (*tree)[target + "d/t/i"].bytes = std::to_string(id);
  if (before(ImportStep::index)) {
    appendTo(tree, target + "d/t/index",
             sampleTradeRecord(id, key, addedByNoteToday("192.0.2.7")));
  }
  if (before(ImportStep::toplist))
    appendTo(tree, target + "d/tl.a1", sampleToplistLine(key));
  if (before(ImportStep::caps))
    appendTo(tree, target + "d/caps", sampleCapsLines(id));
  const std::string stats = target + "d/t/" + std::to_string(id);
  if (before(ImportStep::stats)) {
    (*tree)[stats] = TreeEntry{'f', 0644, std::string(80640, '\0')};
  }
  if (before(ImportStep::summary)) {
    appendTo(tree, target + "d/t/sum", sampleSummaryLine(id));
    (*tree)[stats].mode = 0777;
  }
  const auto history = tree->find(target + "d/h");
  if (before(ImportStep::history) && key.find('/') == std::string::npos &&
      history != tree->end() && history->second.kind == 'd') {
    // A directory in the way stays one, but its mode is opened all the same.
    TreeEntry& entry = (*tree)[target + "d/h/" + key + ".his"];
    if (entry.kind == 'f') entry.bytes.clear();
    entry.mode = 0777;
  }
}

void giveToUser(const std::string& path, unsigned uid) {
  ::lchown(path.c_str(), uid, uid);
  std::error_code ec;
  std::filesystem::recursive_directory_iterator it(path, ec);
  for (; !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    ::lchown(it->path().c_str(), uid, uid);
  }
}

ToplistGate::ToplistGate(const std::string& target)
    : path_(target + "d/tl.a1") {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  ::mkfifo(path_.c_str(), 0666);
  ::chmod(path_.c_str(),
          0666);  // for a run as another user, whatever the umask
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

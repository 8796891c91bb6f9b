// Whole runs over generated installations. The input holds up to five parts
// separated by a line "#": the source index, the target index, the counter
// file, the toplist file and the form's third value. Whatever they hold, the
// run must end its page and write nothing outside its target directory.
#include <unistd.h>  // mkdtemp

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cgi/request_driver.h"
#include "import/target_trade.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/convert_fuzz_run_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    root = std::string(made) + "/";
    std::ofstream(root + "outside") << "untouched";
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string root;
};

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry under `root` except the target, with the contents of files.
std::map<std::string, std::string> outsideTarget(const std::string& root,
                                                 const std::string& target) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string path = it->path().string();
    if ((path + "/").rfind(target, 0) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    entries[path] = it->is_symlink() || it->is_directory()
                        ? std::string("<entry>")
                        : readAll(path);
  }
  return entries;
}

std::vector<std::string> splitParts(const std::string& input) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() < 4) {
    const std::size_t mark = input.find("\n#\n", start);
    if (mark == std::string::npos) break;
    parts.push_back(input.substr(start, mark - start));
    start = mark + 3;
  }
  parts.push_back(input.substr(start));
  return parts;
}

std::string encodeFormValue(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    encoded.push_back('%');
    encoded.push_back(kHex[byte >> 4]);
    encoded.push_back(kHex[byte & 15]);
  }
  return encoded;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const std::string source = scratch.root + "src/";
  const std::string target = scratch.root + "dst/";
  std::vector<std::string> parts =
      splitParts(std::string(reinterpret_cast<const char*>(data), size));
  parts.resize(5);
  writeAll(source + "d/t/index", parts[0]);
  writeAll(target + "d/t/index", parts[1]);
  writeAll(target + "d/t/i", parts[2].empty() ? "10" : parts[2]);
  writeAll(target + "d/tl.a1", parts[3].empty() ? "|a|b|c|d|e|f|\n" : parts[3]);
  writeAll(target + "d/caps", "");
  writeAll(target + "d/t/sum", "");
  std::error_code ec;
  fs::create_directories(target + "d/h", ec);
  const auto before = outsideTarget(scratch.root, target);

  const std::string body = "tolvane3=" + encodeFormValue(source) +
                           "&kavrelv2=" + encodeFormValue(target) +
                           "&submit=" + encodeFormValue(parts[4]);
  Environment environment;
  environment.hasContentLength = true;
  environment.contentLength = std::to_string(body.size());
  environment.remoteAddress = "192.0.2.7";
  std::istringstream input(body);
  std::ostringstream page;
  runRequest(environment, input, page);

  // The page ends with the closing block or an error block.
  if (!endsWith(page.str(), "</html>\n") && !endsWith(page.str(), "</html>"))
    std::abort();
  // Records are only ever appended whole, each on a record boundary (a short
  // last record is completed first): an index that grew is whole records.
  const std::size_t indexSize = readAll(target + "d/t/index").size();
  if (indexSize != parts[1].size() && indexSize % kTargetTradeSize != 0)
    std::abort();
  // Nothing outside the target changed, and nothing new appeared there.
  if (outsideTarget(scratch.root, target) != before) std::abort();

  fs::remove_all(source, ec);
  fs::remove_all(target, ec);
  return 0;
}

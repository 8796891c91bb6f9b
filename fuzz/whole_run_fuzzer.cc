// Whole runs over generated installations. The input holds up to five parts
// separated by a line "#": the source index, the target index, the counter
// file, the toplist file and the form's third value. Whatever they hold, the
// run must end its page and write nothing outside its target directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "import/installation_paths.h"
#include "import/target_trade.h"
#include "testing/cgi_runner.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"
#include "testing/temp_dir.h"

namespace {

// A scratch folder of this process, removed at exit, with a file beside the
// installations that no run may change.
struct Scratch {
  Scratch() { writeFile(dir.path() + "outside", "untouched"); }
  TempDir dir;
};

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const std::string& root = scratch.dir.path();
  const std::string source = root + "src/";
  const std::string target = root + "dst/";
  std::vector<std::string> parts =
      splitParts(std::string(reinterpret_cast<const char*>(data), size));
  parts.resize(5);
  writeFile(sourceIndexPath(source), parts[0]);
  writeFile(targetIndexPath(target), parts[1]);
  writeFile(counterPath(target), parts[2].empty() ? "10" : parts[2]);
  writeFile(toplistPath(target),
            parts[3].empty() ? "|a|b|c|d|e|f|\n" : parts[3]);
  writeFile(capsPath(target), "");
  writeFile(summaryPath(target), "");
  makeDirectories(historyFolderPath(target));
  const FileTree before = readTreeOutside(root, target);

  const std::string page =
      runInProcess(postRequest(formBody(source, target, parts[4])));

  // The page ends with the closing block or an error block.
  if (!hasPageEnding(page)) std::abort();
  // Records are only ever appended whole, each on a record boundary (a short
  // last record is completed first): an index that grew is whole records.
  const std::size_t indexSize = readFile(targetIndexPath(target)).size();
  if (indexSize != parts[1].size() && indexSize % kTargetTradeSize != 0)
    std::abort();
  // Nothing outside the target changed, and nothing new appeared there.
  if (readTreeOutside(root, target) != before) std::abort();

  std::error_code ec;
  std::filesystem::remove_all(source, ec);
  std::filesystem::remove_all(target, ec);
  return 0;
}

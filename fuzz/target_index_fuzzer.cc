// Loads arbitrary target indexes from a file and numbers a trade after them.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "import/target_index.h"
#include "import/trade_id_counter.h"

namespace {

// A scratch installation of this process, made once and removed at exit.
struct ScratchTarget {
  ScratchTarget() {
    char pattern[] = "/tmp/convert_fuzz_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    path = std::string(made) + "/";
    std::error_code ec;
    std::filesystem::create_directories(path + "d/t", ec);
  }
  ~ScratchTarget() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

const std::string& scratchTarget() {
  static const ScratchTarget target;
  return target.path;
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size))
    std::abort();
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& target = scratchTarget();
  writeWhole(target + "d/t/index", data, size);
  std::ostringstream page;
  std::vector<TargetTrade> records;
  if (!readTargetIndex(page, target, &records) || !page.str().empty())
    std::abort();

  // Every byte of the file lands in its record; a short last record keeps its
  // initial values after the bytes read.
  if (records.size() != (size + kTargetTradeSize - 1) / kTargetTradeSize)
    std::abort();
  TargetTrade initial;
  initTargetTrade(&initial);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::size_t offset = i * kTargetTradeSize;
    const std::size_t held = std::min(kTargetTradeSize, size - offset);
    if (std::memcmp(records[i].bytes, data + offset, held) != 0 ||
        std::memcmp(records[i].bytes + held, initial.bytes + held,
                    kTargetTradeSize - held) != 0) {
      std::abort();
    }
  }

  const KnownTradeKeys known(records);
  for (const TargetTrade& record : records) {
    if (!known.contains(readText(record, kKeyField))) std::abort();
  }

  // The next identifier lies above the counter and belongs to no record.
  const LoadedTradeIds ids = collectTradeIds(records);
  int32_t counter = 10;
  if (size >= 4) std::memcpy(&counter, data, 4);
  int32_t id = 0;
  if (nextFreeId(counter, ids, &id)) {
    if (id <= counter ||
        std::binary_search(ids.sorted.begin(), ids.sorted.end(), id)) {
      std::abort();
    }
  }
  return 0;
}

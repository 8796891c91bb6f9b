// Loads arbitrary target indexes from a file and numbers a trade after them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "import/installation_paths.h"
#include "import/target_index.h"
#include "import/trade_id_counter.h"
#include "testing/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A scratch target of this process, removed at exit.
  static const TempDir scratch;
  const std::string& target = scratch.path();
  writeFile(targetIndexPath(target),
            std::string(reinterpret_cast<const char*>(data), size));
  static const Folders folders = foldersFor({tradeFolderPath(target)});
  std::vector<TargetTrade> records;
  if (!readTargetIndex(folders, target, &records).ok()) std::abort();

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

#include "import/target_index.h"

#include "cgi/page.h"
#include "import/file_io.h"

bool readTargetIndex(std::ostream& page, const std::string& targetPath,
                     std::vector<TargetTrade>* records) {
  const std::string path = targetPath + "d/t/index";
  records->clear();
  FileReader reader(path);
  if (!reader.isOpen())
    return reportFileResult(page, FileResult::openFailed, path, "");
  // The size is held in 64 bits: indexes of 2 GiB and more are read whole.
  // The size is held in 64 bits: indexes of 2 GiB and more are read whole.
  unsigned long long remaining = reader.size();
  records->reserve(static_cast<std::size_t>((remaining + kTargetTradeSize - 1) /
                                            kTargetTradeSize));
  // Read a batch of records at a time straight into their place in the list; a
  // short last record keeps its initial values after the bytes read.
  constexpr unsigned long long kBatchBytes = 256 * kTargetTradeSize;
  while (remaining > 0) {
    const std::size_t want = static_cast<std::size_t>(
        remaining < kBatchBytes ? remaining : kBatchBytes);
    const std::size_t first = records->size();
    records->resize(first + (want + kTargetTradeSize - 1) / kTargetTradeSize);
    for (std::size_t i = first; i < records->size(); ++i)
      initTargetTrade(&(*records)[i]);
    const std::size_t got =
        reader.read(reinterpret_cast<char*>((*records)[first].bytes), want);
    records->resize(first + (got + kTargetTradeSize - 1) / kTargetTradeSize);
    if (got < want)
      break;  // the end of the file or a read error: keep what was read
    remaining -= got;
  }
  return true;
}

KnownTradeKeys::KnownTradeKeys(const std::vector<TargetTrade>& records) {
  keys_.reserve(records.size());
  for (const TargetTrade& record : records)
    keys_.insert(readText(record, kKeyField));
}

bool isKnownTrade(std::ostream& page, const SourceTrade& trade,
                  const KnownTradeKeys& known) {
  if (!known.contains(trade.field2)) return false;
  writeSkippingLine(page, trade.field2);
  return true;
}

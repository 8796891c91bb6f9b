#include "import/target_index.h"

#include "base/file_io.h"
#include "import/installation_paths.h"

FileError readTargetIndex(const Folders& folders, const std::string& targetPath,
                          std::vector<TargetTrade>* records) {
  const std::string path = targetIndexPath(targetPath);
  records->clear();
  FileReader reader(folders, path);
  if (!reader.isOpen()) return FileError(FileResult::openFailed, path);
  // The size is held in 64 bits: indexes of 2 GiB and more are read whole. It
  // is a hint only: once it is read, the loop goes on a record at a time until
  // the end of the file shows.
  uint64_t expected = reader.size();
  records->reserve(static_cast<std::size_t>(
      (expected + kTargetTradeSize - 1) / kTargetTradeSize + 1));
  // Read a batch of records at a time straight into their place in the list; a
  // short last record keeps its initial values after the bytes read.
  constexpr std::size_t kBatchRecords = 256;
  for (;;) {
    const uint64_t expectedRecords =
        (expected + kTargetTradeSize - 1) / kTargetTradeSize;
    const std::size_t count = expectedRecords == 0 ? 1
                              : expectedRecords < kBatchRecords
                                  ? static_cast<std::size_t>(expectedRecords)
                                  : kBatchRecords;
    const std::size_t want = count * kTargetTradeSize;
    const std::size_t first = records->size();
    records->resize(first + count);
    for (std::size_t i = first; i < records->size(); ++i)
      initTargetTrade(&(*records)[i]);
    // The records lie end to end in the vector's storage: read through its
    // data pointer, not through the first record's array.
    const std::size_t got =
        reader.read(reinterpret_cast<char*>(records->data() + first), want);
    records->resize(first + (got + kTargetTradeSize - 1) / kTargetTradeSize);
    // A failed read must not pass as the end: the trades after it would look
    // new and be imported again.
    if (reader.hasFailed()) {
      records->clear();
      return FileError(FileResult::readFailed, path);
    }
    if (got < want) break;  // the end of the file
    expected = expected > got ? expected - got : 0;
  }
  return FileError();
}

KnownTradeKeys::KnownTradeKeys(const std::vector<TargetTrade>& records) {
  keys_.reserve(records.size());
  for (const TargetTrade& record : records)
    keys_.insert(readText(record, kKeyField));
}

bool isKnownTrade(const SourceTrade& trade, const KnownTradeKeys& known) {
  return known.contains(trade.key);
}

FileError appendTargetTrade(const std::string& targetPath,
                            const TargetTrade& record, FileJournal* journal) {
  const std::string_view bytes(reinterpret_cast<const char*>(record.bytes),
                               kTargetTradeSize);
  // An index that ends part way into a record was read as that record with
  // initial values after its bytes: complete it with them, so that the new
  // record starts on a 996-byte boundary and later runs read it back.
  TargetTrade initial;
  initTargetTrade(&initial);
  const std::string_view filler(reinterpret_cast<const char*>(initial.bytes),
                                kTargetTradeSize);
  return journal->append(targetIndexPath(targetPath), bytes, filler);
}

#include "journal/undo_log.h"

#include <gtest/gtest.h>

#include "testing/temp_dir.h"

TEST(UndoLogTest, ReadsRecordsUpToTheFirstTornOrStaleOne) {
  UndoRecord cut;
  cut.name = "index";
  cut.size = 4;
  cut.identity = FileIdentity{7, 9};
  UndoRecord putBack;
  putBack.kind = UndoRecord::Kind::putBack;
  putBack.name = "11";
  putBack.bytes = std::string(100, 'x');
  putBack.followLinks = true;
  putBack.restoresMode = true;
  putBack.mode = 0640;
  UndoLogEncoder encoder;
  const std::string header = encoder.startGroup(1);
  const std::string first = header + encoder.encode(cut);
  const std::string log = first + encoder.encode(putBack);
  std::string damaged = log;
  damaged[first.size() + 8] ^= '\x01';  // the second record's checksum
  // A newer group written over the log: what is left of the older one after
  // it does not count.
  UndoLogEncoder newer;
  std::string rewritten = newer.startGroup(2);
  rewritten += newer.encode(cut);
  rewritten += log.substr(rewritten.size());
  // The records read, or -1 when the log has no header.
  std::vector<std::pair<std::string, int>> cases = {
      {log, 2}, {damaged, 1}, {rewritten, 1}};
  for (std::size_t end = 0; end < log.size(); ++end) {
    cases.emplace_back(log.substr(0, end), end < header.size()  ? -1
                                           : end < first.size() ? 0
                                                                : 1);
  }
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  const std::string path = dir.path() + "log";
  for (const auto& [bytes, expected] : cases) {
    writeFile(path, bytes);
    FileReader file(folders, path);
    UndoLogReader reader(&file);
    const bool started = reader.readHeader();
    UndoRecord record;
    while (started && reader.next(&record)) {
    }
    EXPECT_EQ(expected, started ? static_cast<int>(reader.count()) : -1)
        << bytes.size();
  }
  // Every field comes back: the records read encode to the same log.
  writeFile(path, log);
  FileReader file(folders, path);
  UndoLogReader reader(&file);
  ASSERT_TRUE(reader.readHeader());
  UndoRecord record;
  UndoLogEncoder again;
  std::string read = again.startGroup(1);
  while (reader.next(&record)) read += again.encode(record);
  EXPECT_EQ(log, read);
  // A record changed since it was read no longer rereads.
  writeFile(path, log.substr(0, log.size() - 1) + "y");
  EXPECT_TRUE(reader.reread(0, &record));
  EXPECT_EQ(cut.name, record.name);
  EXPECT_FALSE(reader.reread(1, &record));
  EXPECT_FALSE(reader.reread(2, &record));
}

#include "journal/undo_log.h"

#include <gtest/gtest.h>

TEST(UndoLogTest, ReadsRecordsUpToTheFirstTornOrStaleOne) {
  UndoRecord cut;
  cut.name = "index";
  cut.size = 4;
  UndoRecord putBack;
  putBack.kind = UndoRecord::Kind::putBack;
  putBack.name = "11";
  putBack.bytes = std::string(100, 'x');
  UndoLogEncoder encoder;
  const std::string header = encoder.startGroup(1);
  const std::string first = encoder.encode(cut);
  const std::string log = header + first + encoder.encode(putBack);
  std::vector<UndoRecord> records;
  for (std::size_t end = 0; end <= log.size(); ++end) {
    const bool started = decodeUndoLog(log.substr(0, end), &records);
    EXPECT_EQ(end >= header.size(), started) << end;
    const std::size_t whole = end == log.size()                     ? 2
                              : end >= header.size() + first.size() ? 1
                                                                    : 0;
    EXPECT_EQ(whole, records.size()) << end;
  }
  ASSERT_TRUE(decodeUndoLog(log, &records));
  EXPECT_EQ(putBack.bytes, records[1].bytes);
  // A newer group written over the log: what is left of the older one after
  // it does not count.
  UndoLogEncoder newer;
  std::string rewritten = newer.startGroup(2);
  rewritten += newer.encode(cut);
  ASSERT_TRUE(
      decodeUndoLog(rewritten + log.substr(rewritten.size()), &records));
  EXPECT_EQ(1u, records.size());
}

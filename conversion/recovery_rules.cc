#include "conversion/recovery_rules.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/coding.h"
#include "base/numbers.h"
#include "companion/companion_formats.h"
#include "import/installation_paths.h"
#include "import/source_index.h"
#include "import/target_log_rules.h"
#include "import/target_trade.h"
#include "import/trade_id_counter.h"

namespace {

// The longest line a cut may take off: far longer than any the conversion
// writes.
constexpr std::size_t kMaxLine = 1 << 20;
constexpr std::size_t kChunk = 1 << 16;

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

std::string shown(std::string_view line) {
  std::string text(line.substr(0, 60));
  if (line.size() > 60) text += "...";
  return "\"" + text + "\"";
}

// What the log and the files show of the group a cut-off run left.
class GroupTail {
 public:
  GroupTail(std::string_view sourceIndex, uint64_t maxGroupTrades)
      : sourceIndex_(sourceIndex), maxGroupTrades_(maxGroupTrades) {}

  void notice(const UndoRecord& record) {
    if (record.name != counterPath("") ||
        record.kind != UndoRecord::Kind::putBack)
      return;
    counterKnown_ = true;
    counterBefore_ = parseCounter(record.bytes);
  }

  bool judge(const UndoRecord& record, FileReader* file, std::string* why) {
    if (record.name == targetIndexPath(""))
      return judgeIndex(record, file, why);
    return judgeLines(record, file, why);
  }

 private:
  // The `k`-th identifier (from 0) the counter issued in the group, or false
  // past the most a group holds.
  bool groupId(std::size_t k, int32_t* id) {
    while (counterKnown_ && sequence_.size() <= k &&
           sequence_.size() < maxGroupTrades_) {
      const int32_t from =
          sequence_.empty() ? counterBefore_ : sequence_.back();
      int32_t next = 0;
      if (!nextFreeId(from, loaded_, &next)) break;
      sequence_.push_back(next);
    }
    if (k >= sequence_.size()) return false;
    *id = sequence_[k];
    return true;
  }

  bool isGroupId(int32_t id) {
    // The identifiers rise: issue them up to `id`, then look it up.
    int32_t issued = 0;
    while ((sequence_.empty() || sequence_.back() < id) &&
           groupId(sequence_.size(), &issued)) {
    }
    return std::binary_search(sequence_.begin(), sequence_.end(), id);
  }

  // "|key|field17|field18|field19|" of every source trade, by key.
  const std::string* toplistStart(std::string_view key) {
    if (!keysRead_) {
      SourceTradeReader reader(sourceIndex_);
      SourceTrade trade;
      while (reader.next(&trade)) {
        std::string line = toplistLine(trade, 0);
        line.pop_back();  // its line feed
        toplistStarts_.emplace(trade.key, std::move(line));
      }
      keysRead_ = true;
    }
    const auto found = toplistStarts_.find(std::string(key));
    return found == toplistStarts_.end() ? nullptr : &found->second;
  }

  // The identifiers of the records before `size`: those the counter stepped
  // over while the group ran.
  bool loadIds(uint64_t size, FileReader* file) {
    loaded_ = LoadedTradeIds();
    // A batch of records at a time: one read, not one for each identifier.
    constexpr uint64_t kBatch = 256;
    std::vector<char> batch(kBatch * kTargetTradeSize);
    const uint64_t records = size / kTargetTradeSize;
    for (uint64_t first = 0; first < records; first += kBatch) {
      const uint64_t count = std::min(kBatch, records - first);
      if (!file->readAt(first * kTargetTradeSize, batch.data(),
                        static_cast<std::size_t>(count * kTargetTradeSize)))
        return false;
      for (uint64_t i = 0; i < count; ++i)
        loaded_.inFileOrder.push_back(
            decodeInt32(reinterpret_cast<const unsigned char*>(
                &batch[i * kTargetTradeSize + kIdField.offset])));
    }
    loaded_.sorted = loaded_.inFileOrder;
    std::sort(loaded_.sorted.begin(), loaded_.sorted.end());
    return true;
  }

  bool judgeIndex(const UndoRecord& record, FileReader* file,
                  std::string* why) {
    if (!loadIds(record.size, file)) return false;
    sequence_.clear();
    // The first bytes may complete a record that the index ended part way in.
    const uint64_t partial = record.size % kTargetTradeSize;
    uint64_t at = record.size + (partial == 0 ? 0 : kTargetTradeSize - partial);
    TargetTrade written;
    initTargetTrade(&written);
    TargetTrade zeros;
    std::memset(zeros.bytes, 0, kTargetTradeSize);
    for (std::size_t k = 0; at + kTargetTradeSize <= file->size();
         ++k, at += kTargetTradeSize) {
      TargetTrade trade;
      if (!file->readAt(at, reinterpret_cast<char*>(trade.bytes),
                        kTargetTradeSize))
        return false;
      // Zero bytes: an append whose data a power cut lost.
      if (std::memcmp(trade.bytes, zeros.bytes, kTargetTradeSize) == 0)
        continue;
      int32_t issued = 0;
      const std::string_view key = readText(trade, kKeyField);
      const bool fixedAsWritten =
          readInt32(trade, kPresetOneField) == 1 &&
          readInt32(trade, kPresetZeroField) == 0 &&
          startsWith(readText(trade, kNoteField), "added by ") &&
          std::memcmp(trade.bytes + kEmptyTextField.offset,
                      written.bytes + kEmptyTextField.offset,
                      kEmptyTextField.width) == 0 &&
          readInt32(trade, kPresetZerosField, 0) == 0 &&
          readInt32(trade, kPresetZerosField, 1) == 0 &&
          readInt32(trade, kPresetZerosField, 2) == 0;
      if (!groupId(k, &issued) || readInt32(trade, kIdField) != issued ||
          toplistStart(key) == nullptr || !fixedAsWritten) {
        *why = "record " + std::to_string(at / kTargetTradeSize + 1) +
               " (identifier " + toDecimalText(readInt32(trade, kIdField)) +
               ", key " + shown(key) + ")";
        return false;
      }
    }
    // A last record cut short is an append a kill cut off.
    return true;
  }

  // Whether `line` (without its line feed; cut short at the file's end when
  // `whole` is false) is one the conversion writes to the file `name`.
  bool isOwnLine(const std::string& name, std::string_view line, bool whole) {
    if (name == toplistPath("")) {
      std::string_view key;
      if (!readToplistKey(line, &key))  // or cut short in its key
        return line[0] == '|' && !whole;
      const std::string* start = toplistStart(key);
      if (start == nullptr) return false;
      const std::size_t common = std::min(line.size(), start->size());
      if (line.substr(0, common) != std::string_view(*start).substr(0, common))
        return false;
      if (line.size() < start->size()) return !whole;
      // Then as many empty values as the toplist's first line asked for.
      return line.find_first_not_of('|', start->size()) ==
             std::string_view::npos;
    }
    int32_t id = 0;
    std::string_view afterId;
    if (!readLineId(line, &id, &afterId))
      return !whole &&
             line.find_first_not_of("|-0123456789") == std::string::npos;
    if (!isGroupId(id)) return false;
    if (name == summaryPath("")) {
      const std::string own = summaryLine(id);
      return whole ? std::string_view(own).substr(0, own.size() - 1) == line
                   : startsWith(own, line);
    }
    // A caps line: "|id|n|value|" for n from 1 to 3.
    const std::string start = "|" + toDecimalText(id) + "|";
    std::string_view rest = line.substr(start.size());
    if (rest.empty()) return !whole;
    if (rest[0] < '1' || rest[0] > '3') return false;
    rest.remove_prefix(1);
    if (rest.empty()) return !whole;
    if (rest[0] != '|') return false;
    rest.remove_prefix(1);
    const std::size_t end = rest.find('|');
    if (end == std::string_view::npos)
      return !whole &&
             rest.find_first_not_of("-0123456789") == std::string_view::npos;
    const std::string value(rest.substr(0, end));
    int32_t number = 0;
    return readInt32Strict(value, &number) && toDecimalText(number) == value &&
           end + 1 == rest.size();
  }

  bool judgeLines(const UndoRecord& record, FileReader* file,
                  std::string* why) {
    std::string line;
    uint64_t lineNumber = 0;
    bool zerosOnly = false;  // past the first zero byte, a torn append
    char buffer[kChunk];
    for (uint64_t at = record.size; at < file->size();) {
      const std::size_t want = static_cast<std::size_t>(
          std::min<uint64_t>(sizeof buffer, file->size() - at));
      if (!file->readAt(at, buffer, want)) return false;
      at += want;
      for (std::size_t i = 0; i < want; ++i) {
        const char c = buffer[i];
        if (zerosOnly || c == '\0') {
          zerosOnly = true;
          if (c != '\0') {
            *why = "bytes after a run of zero bytes";
            return false;
          }
          continue;
        }
        if (c != '\n') {
          line.push_back(c);
          if (line.size() > kMaxLine) {
            *why = "a line longer than any the conversion writes";
            return false;
          }
          continue;
        }
        ++lineNumber;
        if (!isOwnLine(record.name, line, true)) {
          *why = "line " + std::to_string(lineNumber) + " " + shown(line);
          return false;
        }
        line.clear();
      }
    }
    if (!line.empty() && !isOwnLine(record.name, line, false)) {
      *why = "line " + std::to_string(lineNumber + 1) + " " + shown(line);
      return false;
    }
    return true;
  }

  std::string_view sourceIndex_;
  uint64_t maxGroupTrades_;
  bool counterKnown_ = false;
  int32_t counterBefore_ = 0;
  LoadedTradeIds loaded_;
  std::vector<int32_t> sequence_;
  bool keysRead_ = false;
  std::unordered_map<std::string, std::string> toplistStarts_;
};

}  // namespace

RecoveryRules conversionRecoveryRules(std::string_view sourceIndex,
                                      uint64_t maxGroupTrades) {
  const auto tail = std::make_shared<GroupTail>(sourceIndex, maxGroupTrades);
  RecoveryRules rules;
  rules.isOwnRecord = isOwnUndoRecord;
  rules.notice = [tail](const UndoRecord& record) { tail->notice(record); };
  rules.isOwnTail = [tail](const UndoRecord& record, FileReader* file,
                           std::string* why) {
    return tail->judge(record, file, why);
  };
  return rules;
}

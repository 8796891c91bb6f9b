#include "companion/companion_formats.h"

#include <climits>

#include "base/numbers.h"

bool BreakIndexScanner::feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (breakIndex_ != -1) return true;
    if (c == '|') {
      ++pieceNumber_;
    } else if (c == '\n') {
      // Stays -1 for the piece before the first '|'.
      breakIndex_ = pieceNumber_;
    }
  }
  return breakIndex_ != -1;
}

std::string toplistLine(const SourceTrade& trade, int64_t breakIndex) {
  std::string line;
  line.reserve(trade.key.size() + trade.field17.size() + trade.field18.size() +
               trade.field19.size() + 8);
  line.append("|").append(trade.key);
  line.append("|").append(trade.field17);
  line.append("|").append(trade.field18);
  line.append("|").append(trade.field19);
  line.append("|");
  for (int64_t filler = breakIndex - 4; filler > 0; --filler)
    line.push_back('|');
  line.push_back('\n');
  return line;
}

std::string capsLines(int32_t id, const SourceTrade& trade) {
  const std::string idText = toDecimalText(id);
  const int32_t caps[3] = {trade.field13, trade.field14, trade.field15};
  std::string lines;
  for (int i = 0; i < 3; ++i) {
    lines.append("|").append(idText).append("|");
    lines.push_back(static_cast<char>('1' + i));
    lines.append("|").append(toDecimalText(caps[i])).append("|\n");
  }
  return lines;
}

namespace {
constexpr std::string_view kSummaryZeros =
    "|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|"
    "0|0|0|0|0|0|\n";
}  // namespace

std::string summaryLine(int32_t id) {
  std::string line = "|";
  line.append(toDecimalText(id)).append(kSummaryZeros);
  return line;
}

bool readToplistKey(std::string_view line, std::string_view* key) {
  const std::size_t end = line.empty() || line[0] != '|'
                              ? std::string_view::npos
                              : line.find('|', 1);
  if (end == std::string_view::npos) return false;
  *key = line.substr(1, end - 1);
  return true;
}

bool readLineId(std::string_view line, int32_t* id, std::string_view* rest) {
  if (line.size() < 3 || line[0] != '|') return false;
  std::size_t at = 1;
  const bool negative = line[at] == '-';
  if (negative) ++at;
  const std::size_t digits = at;
  int64_t value = 0;
  for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
    value = value * 10 + (line[at] - '0');
    if (value > int64_t{INT32_MAX} + 1) return false;
  }
  if (at == digits || at == line.size() || line[at] != '|' ||
      (line[digits] == '0' && (at - digits > 1 || negative)))
    return false;
  value = negative ? -value : value;
  if (value > INT32_MAX) return false;
  *id = static_cast<int32_t>(value);
  *rest = line.substr(at + 1);
  return true;
}

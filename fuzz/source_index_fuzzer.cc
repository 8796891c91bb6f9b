// Parses arbitrary source indexes and converts every trade they yield.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "companion/companion_formats.h"
#include "import/source_index.h"
#include "import/target_trade.h"
#include "import/trade_conversion.h"

namespace {

// The trades a text must yield: one for every piece at position 1 of 31, where
// the pieces are the stretches between bars and a last one without a bar.
std::size_t expectedTradeCount(std::string_view text) {
  std::size_t pieces =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '|'));
  if (!text.empty() && text.back() != '|') ++pieces;
  return pieces < 2 ? 0 : (pieces - 2) / 31 + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<SourceTrade> trades = parseSourceIndex(text);
  if (trades.size() != expectedTradeCount(text)) std::abort();

  std::tm date{};
  date.tm_year = 124;
  date.tm_mday = 1;
  int32_t id = 11;
  for (const SourceTrade& trade : trades) {
    if (trade.field1.find('|') != std::string::npos ||
        trade.key.find('|') != std::string::npos) {
      std::abort();
    }
    const TargetTrade record = buildTargetTrade(trade, id, "192.0.2.7", date);
    // A key that fits is stored whole and reads back the same.
    if (fitsTextField(kKeyField, trade.key) &&
        readText(record, kKeyField) != trade.key) {
      std::abort();
    }
    if (readInt32(record, kIdField) != id) std::abort();
    (void)toplistLine(trade, static_cast<int64_t>(size % 64) - 1);
    (void)capsLines(id, trade);
    ++id;
  }
  return 0;
}

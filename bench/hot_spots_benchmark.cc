// In-process costs of the conversion's hot spots, apart from file work: form
// decoding, source index parsing, the duplicate test, record encoding and the
// identifier walk. The end-to-end figures come from bench/run.py.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cgi/form_decoder.h"
#include "import/source_index.h"
#include "import/target_index.h"
#include "import/target_trade.h"
#include "import/trade_conversion.h"
#include "import/trade_id_counter.h"

namespace {

std::string tradeKey(int n) {
  char key[32];
  std::snprintf(key, sizeof key, "site%07d", n);
  return key;
}

// A source line shaped like bench/run.py's: 30 fields, about 170 bytes.
std::string sourceLine(int n) {
  const std::string key = tradeKey(n);
  std::string line = "|" + std::to_string(11 + n % 89) + "|" + key + "|Site " +
                     key + "|admin@" + key + ".example|pw" + key +
                     "|17|x|y||30|45|" + std::to_string(n % 3) +
                     "|100|200|-1|60|http://" + key + ".example/|travel|" +
                     key + " tours|5|en|";
  for (int i = 22; i <= 30; ++i) line += "0|";
  return line + "\n";
}

std::string sourceIndex(int trades) {
  std::string contents;
  for (int n = 0; n < trades; ++n) contents += sourceLine(n);
  return contents;
}

std::vector<TargetTrade> targetRecords(int count) {
  std::vector<TargetTrade> records(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) {
    TargetTrade& record = records[static_cast<std::size_t>(n)];
    initTargetTrade(&record);
    writeInt32(&record, kIdField, 11 + n);
    writeText(&record, kKeyField, tradeKey(n));
  }
  return records;
}

void BM_DecodeFormValues(benchmark::State& state) {
  const std::string body =
      "tolvane3=%2Fvar%2Fwww%2Fcgi-bin%2Ftn3%2F&kavrelv2=%2Fvar%2Fwww%2F"
      "cgi-bin%2Fkv2+site%2F&submit=submit";
  for (auto _ : state) {
    FormDecoder decoder;
    decoder.feed(body);
    decoder.finish();
    benchmark::DoNotOptimize(decoder.values().data());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_DecodeFormValues);

// Per trade, the large list costs several times the small one: its memory
// comes fresh from the system on every iteration and each page is faulted in,
// as it is once in every run of the program.
void BM_ParseSourceIndex(benchmark::State& state) {
  const std::string contents = sourceIndex(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<SourceTrade> trades = parseSourceIndex(contents);
    benchmark::DoNotOptimize(trades.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(contents.size()));
}
BENCHMARK(BM_ParseSourceIndex)->Arg(5000)->Arg(100000);

void BM_LoadKnownTradeKeys(benchmark::State& state) {
  const std::vector<TargetTrade> records =
      targetRecords(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const KnownTradeKeys known(records);
    benchmark::DoNotOptimize(&known);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadKnownTradeKeys)->Arg(5000)->Arg(100000);

// One duplicate test per source trade; half the keys are known. The time per
// item must not grow with the target.
void BM_IsKnownTrade(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<TargetTrade> records = targetRecords(count);
  const KnownTradeKeys known(records);
  std::vector<SourceTrade> trades(1024);
  for (std::size_t i = 0; i < trades.size(); ++i) {
    const int n = static_cast<int>(i) * 7919 % (2 * count);
    trades[i].key = tradeKey(n);  // n >= count: not in the target
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(isKnownTrade(trades[i], known));
    i = (i + 1) % trades.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsKnownTrade)->Arg(5000)->Arg(100000);

void BM_BuildTargetTrade(benchmark::State& state) {
  const std::vector<SourceTrade> trades = parseSourceIndex(sourceLine(12));
  std::tm localTime{};
  localTime.tm_year = 124;
  localTime.tm_mon = 11;
  localTime.tm_mday = 9;
  int32_t id = 11;
  for (auto _ : state) {
    const TargetTrade record =
        buildTargetTrade(trades[0], id++, "192.0.2.7", localTime);
    benchmark::DoNotOptimize(record.bytes);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildTargetTrade);

// The identifier walk: once per imported trade. With the counter past every
// loaded id (the usual case, second argument 0) it costs no more for a larger
// target; with the counter behind them (1) it passes over every record.
void BM_NextFreeId(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool behind = state.range(1) != 0;
  const LoadedTradeIds loaded = collectTradeIds(targetRecords(count));
  int32_t counter = behind ? 10 : 10 + count;
  for (auto _ : state) {
    int32_t id = 0;
    benchmark::DoNotOptimize(nextFreeId(counter, loaded, &id));
    if (!behind) counter = id;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NextFreeId)
    ->Args({5000, 0})
    ->Args({100000, 0})
    ->Args({5000, 1})
    ->Args({100000, 1});

}  // namespace

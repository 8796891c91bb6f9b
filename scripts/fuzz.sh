#!/bin/bash
# fuzz.sh TARGET PROGRAM: runs the libFuzzer PROGRAM for a bounded time over the seed corpus
# fuzz/corpus/TARGET (which is only read: new inputs go to corpus/TARGET/ in the current folder,
# the fuzz build's). Any crash, sanitizer report, leak, timeout or write outside the scratch
# target fails it; the input is kept in artifacts/. FUZZ_SECONDS sets the time (default 60).
# Each fuzzer of the "fuzz" preset is a test that runs this: ctest --preset fuzz.
set -euo pipefail
target=$1 program=$2
seconds=${FUZZ_SECONDS:-60}
seeds=$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus/$target
corpus=corpus/$target
log=$PWD/$target.log
mkdir -p artifacts "$corpus"
if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="artifacts/$target-" "$corpus" "$seeds" > "$log" 2>&1; then
  tail -n 40 "$log"
  echo "fuzz: $target: finding; input saved under $PWD/artifacts/, log in $log" >&2
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "fuzz: $target: ${runs:-?} executions in ${seconds}s, no finding"

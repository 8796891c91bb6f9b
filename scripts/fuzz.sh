#!/bin/bash
# Builds the libFuzzer targets in build-fuzz/ and runs each for a bounded time over its seed
# corpus in fuzz/corpus/ (which is only read: new inputs go to build-fuzz/corpus/). Any crash,
# sanitizer report, leak, timeout or write outside the scratch target fails the script.
# FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCONVERT_BUILD_TESTS=OFF -DCONVERT_BUILD_FUZZERS=ON > /dev/null
cmake --build build-fuzz

mkdir -p build-fuzz/artifacts
for target in form_decoder source_index target_index whole_run; do
  corpus=build-fuzz/corpus/$target
  log=build-fuzz/$target.log
  mkdir -p "$corpus"
  if ! "build-fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
      "$corpus" "fuzz/corpus/$target" > "$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target: finding; input saved under build-fuzz/artifacts/, log in $log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: ${runs:-?} executions in ${seconds}s, no finding"
done

#!/bin/bash
# Builds everything and runs every test: the unit and end-to-end tests with warnings as
# errors, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, a conversion
# under valgrind, the fuzzers for a bounded time, the formatting check, and the browser test
# against a real web server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

echo "== build with warnings as errors, run the tests"
cmake -S . -B build -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON > /dev/null
cmake --build build
ctest --test-dir build --output-on-failure

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all" > /dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure

echo "== one conversion under valgrind"
scripts/valgrind_check.sh

echo "== fuzzing: form decoding, both index readers, a whole run (60 s each)"
scripts/fuzz.sh

echo "== formatting"
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror
echo "== convert.cgi under Apache httpd, driven by headless Chromium"
scripts/browser_test.sh

echo "all tests passed"

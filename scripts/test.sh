#!/bin/bash
# Builds everything and runs every test, the cheap checks first: formatting, the include
# rules, the README's server lines, the unit and end-to-end tests with warnings as errors,
# the fault sweep, and the release's static programs in an empty chroot; then the long ones:
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, a conversion under
# valgrind, the fuzzers for a bounded time, the browser test against real web servers, and
# the README's deployment commands.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

echo "== formatting"
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror
echo "== include rules"
scripts/check_includes.sh
echo "== the README's server lines are the tested ones"
scripts/readme_check.sh snippets

echo "== build with warnings as errors, run the tests"
cmake -S . -B build -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON > /dev/null
cmake --build build
ctest --test-dir build --output-on-failure

echo "== fault sweep: every system call on the installation files fails once, then SIGTERM"
# A second build ends its groups after each trade, so that a run makes several.
cmake -S . -B build-sweep -G Ninja -DCONVERT_BUILD_TESTS=OFF \
  -DCONVERT_GROUP_TRADES_FOR_TESTS=1 > /dev/null
cmake --build build-sweep
scripts/fault_sweep.py build/convert.cgi --grouped build-sweep/convert.cgi

echo "== the release: static programs (x86-64, and aarch64 under qemu) in an empty chroot"
scripts/release_test.sh

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all" > /dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure

echo "== one conversion under valgrind"
scripts/valgrind_check.sh

echo "== fuzzing: form decoding, both index readers, a whole run (60 s each)"
scripts/fuzz.sh

echo "== convert.cgi under web servers, driven by headless Chromium"
scripts/browser_test.sh
echo "== the README's deployment commands, run as written"
scripts/readme_check.sh apache
scripts/readme_check.sh servers
scripts/readme_check.sh hosting

echo "all tests passed"

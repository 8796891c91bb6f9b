#!/bin/bash
# Builds everything and runs every test, the cheap checks first: formatting and the include
# rules, the README's server lines, the unit and end-to-end tests with warnings as errors and
# one conversion under valgrind, the fault sweep, and the release's static programs in an empty
# chroot; then the long ones: the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzzers for a bounded time, the browser test against real
# web servers, and the README's deployment commands. Every build is a preset of
# CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
# build/ is the dev preset's, configured with Ninja; one that a plain "cmake -B build" made with
# another generator would stop the preset at CMake's generator clash, so say what to do first.
generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' build/CMakeCache.txt 2> /dev/null) || true
if [ -n "$generator" ] && [ "$generator" != Ninja ]; then
  echo "test.sh: build/ was configured with $generator, but the dev preset builds there with" \
    "Ninja: move build/ aside (or remove it) and run again" >&2
  exit 1
fi
scripts/install_deps.sh
# build PRESET: configures and builds one of the presets of CMakePresets.json.
build() { cmake --preset "$1" > /dev/null && cmake --build --preset "$1"; }

echo "== formatting and include rules"
cmake --preset dev > /dev/null
ctest --preset lint
echo "== the README's server lines are the tested ones"
scripts/readme_check.sh snippets

echo "== build with warnings as errors, run the tests and a conversion under valgrind"
build dev
ctest --preset dev  # all but the sweep, which needs its own build

echo "== fault sweep: every system call on the installation files fails once, then SIGTERM"
build sweep  # its second program, whose groups end after each trade
ctest --preset sweep

echo "== the release: static programs (x86-64, and aarch64 under qemu) in an empty chroot"
scripts/release_test.sh

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build asan
ctest --preset asan

echo "== fuzzing: form decoding, both index readers, a whole run (60 s each)"
build fuzz
ctest --preset fuzz

echo "== convert.cgi under web servers, driven by headless Chromium"
scripts/browser_test.sh
echo "== the README's deployment commands, run as written"
scripts/readme_check.sh apache
scripts/readme_check.sh servers
scripts/readme_check.sh hosting

echo "all tests passed"

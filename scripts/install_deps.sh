#!/bin/bash
# Installs, from Debian's packages, what the build and the tests need. Installs nothing when
# everything is already there, so it is cheap to run before every test run.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev clang-format valgrind python3
  util-linux strace)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or: sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

#!/bin/bash
# Try convert.cgi in a browser: builds it, starts Apache httpd on
# http://127.0.0.1:8080/ (PORT=... for another port) with a scratch copy of the
# example installations examples/tn3 and examples/kv2 under /tmp, and prints the
# address and the two directories to type. Ctrl-C stops the server.
# Needs root (it installs apache2-bin when missing; Apache runs the program as
# www-data).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: Apache must be started as root to run the program as www-data" >&2
  exit 1
fi
bash e2e/install_packages.sh apache2-bin
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja > /dev/null
fi
cmake --build build --target convert_cgi > /dev/null

scratch=$(mktemp -d /tmp/convert-try-XXXXXX)
# Ctrl-C reaches node, which stops the server it started (Apache has detached
# from this terminal); the pid file is checked again here in case node died.
trap 'bash e2e/stop_apache.sh "$scratch/apache/httpd.pid"' EXIT
trap ':' INT
E2E_SCRATCH="$scratch" node e2e/try_in_browser.mjs

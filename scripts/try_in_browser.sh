#!/bin/bash
# Try convert.cgi in a browser: builds it (without the tests, in build-example/),
# starts Apache httpd on http://127.0.0.1:8080/ (PORT=... for another port) with a
# scratch copy of the example installations examples/tn3 and examples/kv2 under
# /tmp, and prints the address and the two directories to type.
# Ctrl-C, or a kill of this script's pid, stops the server and the node helper
# that started it. Needs root: it installs Debian's apache2-bin and nodejs when
# missing, and Apache runs the program as www-data.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: Apache must be started as root to run the program as www-data" >&2
  exit 1
fi
node=()
command -v node > /dev/null || node=(nodejs)
scripts/install_deps.sh --build apache2-bin "${node[@]}"
cmake -S . -B build-example -G Ninja -DCONVERT_BUILD_TESTS=OFF > /dev/null
cmake --build build-example --target convert_cgi > /dev/null

scratch=$(mktemp -d /tmp/convert-try-XXXXXX)
node_pid=
# node stops the server it started; the pid file is checked again here in case
# node died without doing so (Apache has detached and would run on).
stop_all() {
  if [ -n "$node_pid" ]; then
    kill -TERM "$node_pid" 2> /dev/null || true
    wait "$node_pid" 2> /dev/null || true
  fi
  bash e2e/stop_apache.sh "$scratch/apache/httpd.pid"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# In the background so that a signal to this script is handled at once rather
# than after node has ended.
CONVERT_CGI="$PWD/build-example/convert.cgi" E2E_SCRATCH="$scratch" node e2e/try_in_browser.mjs &
node_pid=$!
wait "$node_pid"

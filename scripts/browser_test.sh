#!/bin/bash
# Deploys convert.cgi under five private web servers on 127.0.0.1 (Debian's
# Apache with the event MPM and mod_cgid, Apache with prefork and mod_cgi, nginx
# with fcgiwrap, lighttpd with mod_cgi, and shared hosting: Debian's Apache with
# mod_userdir and suEXEC running the release's static program as an account) and
# drives it with headless Chromium (e2e/browser_test.mjs). Installs what it needs
# when missing (as root, Debian's packages: apache2, apache2-suexec-pristine,
# nginx, fcgiwrap, lighttpd, chromium; the npm packages of e2e/) without starting
# the system's services, builds the program and the release if needed, and stops
# every server it started, by pid file, whatever happens.
# E2E_SERVERS=name,... runs some of the servers only (names in e2e/lib/servers.mjs).
# Screenshots of the pages go to build/e2e-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: the servers must be started as root to run the program as www-data" >&2
  exit 1
fi

# Whether anything listens on TCP port 80 (hex 0050, state 0A).
listens_on_80() {
  awk '$2 ~ /:0050$/ && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6 2> /dev/null
}
port_80_before=no
listens_on_80 && port_80_before=yes

node=()
command -v node > /dev/null || node+=(nodejs)
command -v npm > /dev/null || node+=(npm)
scripts/install_deps.sh --build apache2 apache2-suexec-pristine nginx fcgiwrap lighttpd chromium "${node[@]}"

if [ "$port_80_before" = no ] && listens_on_80; then
  echo "something listens on port 80 since the packages were installed: a system service was started" >&2
  exit 1
fi

# npm packages: playwright-core only drives the browser; it never downloads one.
if ! node -e '
  const wanted = require("./e2e/package-lock.json").packages["node_modules/playwright-core"].version;
  const have = require("./e2e/node_modules/playwright-core/package.json").version;
  process.exit(have === wanted ? 0 : 1);' 2> /dev/null; then
  echo "== npm ci in e2e/"
  (cd e2e && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
fi

# The program
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja > /dev/null
fi
cmake --build build --target convert_cgi
# The release, for the shared host (its own build folders; quick when up to date)
scripts/release.sh > /dev/null

# The test, in a folder that the server's user can reach; the long conversion
# on tmpfs.
work=$(mktemp -d /tmp/convert-e2e-XXXXXX)
fast=$(mktemp -d /dev/shm/convert-e2e-XXXXXX)
chmod 755 "$work" "$fast"
tar -xzf dist/convert.cgi-*-linux-x86_64.tar.gz -C "$work"
release_cgi=$(echo "$work"/convert.cgi-*-linux-x86_64/convert.cgi)
# The test stops its servers itself; this covers a test that was killed, or this
# script. Each server keeps its pid files in its own folder, $work/<server>/.
test_pid=
stop_servers() {
  if [ -n "$test_pid" ]; then
    kill -TERM "$test_pid" 2> /dev/null || true
    wait "$test_pid" 2> /dev/null || true
    test_pid=
  fi
  local pid_file
  for pid_file in "$work"/*/*.pid; do
    [ -e "$pid_file" ] && bash e2e/stop_apache.sh "$pid_file"
  done
  rm -rf "$fast"
}
trap stop_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p build/e2e-artifacts
echo "== browser test: convert.cgi under Apache, nginx, lighttpd and shared hosting, driven by Chromium"
started=$SECONDS
status=0
# In the background, so that a signal to this script is handled at once rather
# than once the test has ended.
E2E_WORK_DIR="$work" E2E_FAST_DIR="$fast" CONVERT_CGI="$repo/build/convert.cgi" E2E_RELEASE_CGI="$release_cgi" \
  E2E_ARTIFACTS="$repo/build/e2e-artifacts" node e2e/browser_test.mjs &
test_pid=$!
wait "$test_pid" || status=$?
test_pid=
stop_servers
if listens_on_80 && [ "$port_80_before" = no ]; then
  echo "something listens on port 80 after the browser test" >&2
  status=1
fi
if [ "$status" -eq 0 ]; then
  rm -rf "$work"
  echo "browser test passed in $((SECONDS - started)) s (screenshots in build/e2e-artifacts/)"
else
  echo "browser test FAILED (installations, server logs in $work; screenshots in build/e2e-artifacts/)" >&2
fi
exit "$status"

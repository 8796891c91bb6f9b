#!/bin/bash
# Deploys convert.cgi under a private Apache httpd on 127.0.0.1 and drives it with
# headless Chromium (e2e/browser_test.mjs). Installs what it needs when missing
# (as root: Debian's apache2-bin and chromium, the npm packages of e2e/), builds
# the program if needed, and stops its Apache whatever happens. Screenshots of
# the pages go to build/e2e-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: Apache must be started as root to run the program as www-data" >&2
  exit 1
fi

bash e2e/install_packages.sh apache2-bin chromium

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

# The test, in a folder that the server's user can reach
work=$(mktemp -d /tmp/convert-e2e-XXXXXX)
pid_file="$work/apache/httpd.pid"
# The test stops its server itself; this covers a test that was killed.
stop_apache() { bash e2e/stop_apache.sh "$pid_file"; }
trap stop_apache EXIT
trap 'exit 130' INT TERM

mkdir -p build/e2e-artifacts
echo "== browser test: convert.cgi under Apache httpd, driven by Chromium"
status=0
E2E_WORK_DIR="$work" CONVERT_CGI="$repo/build/convert.cgi" E2E_ARTIFACTS="$repo/build/e2e-artifacts" \
  node --test e2e/browser_test.mjs || status=$?
stop_apache
if [ "$status" -eq 0 ]; then
  rm -rf "$work"
  echo "browser test passed (screenshots in build/e2e-artifacts/)"
else
  echo "browser test FAILED (installations, server logs in $work; screenshots in build/e2e-artifacts/)" >&2
fi
exit "$status"

#!/bin/bash
# Deploys convert.cgi under the README's five server setups (e2e/servers.sh: Debian's Apache
# with the event MPM and mod_cgid, Apache with prefork and mod_cgi, nginx with fcgiwrap,
# lighttpd with mod_cgi, and shared hosting: Apache with mod_userdir and suEXEC running the
# release's static program as an account), one after the other on 127.0.0.1:8080 of a private
# namespace, and drives them with headless Chromium, or plain HTTP where no browser is needed
# (e2e/browser_test.mjs). Installs what it needs when missing (as root: the README's packages,
# apache2-suexec-pristine, chromium; the npm packages of e2e/) without starting the system's
# services, and builds the release. Whatever happens, every server ends with the namespace.
# E2E_SERVERS=name,... runs some of the servers only (names in e2e/lib/servers.mjs).
# Screenshots of the pages go to build/e2e-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
source e2e/servers.sh

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
servers_install build apache nginx lighttpd
scripts/install_deps.sh --build apache2-suexec-pristine chromium "${node[@]}"

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

# The release, for the shared host (its own build folders; quick when up to date)
scripts/release.sh > /dev/null

# The servers' scratch folders, which the test uses too; the long conversion on tmpfs.
servers_prepare apache2 nginx lighttpd
fast=$(mktemp -d /dev/shm/convert-e2e-XXXXXX)
chmod 755 "$fast"
finish() {
  servers_kill
  rm -rf "$fast"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p build/e2e-artifacts
echo "== browser test: convert.cgi under Apache, nginx, lighttpd and shared hosting, driven by Chromium"
started=$SECONDS
status=0
E2E_WORK_DIR="$work" E2E_FAST_DIR="$fast" E2E_ARTIFACTS="$PWD/build/e2e-artifacts" \
  servers_enter node "$PWD/e2e/browser_test.mjs" || status=$?
servers_pid=
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

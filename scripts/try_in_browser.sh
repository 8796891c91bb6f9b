#!/bin/bash
# Try convert.cgi in a browser: Debian's Apache with the prefork MPM and mod_cgi, set up by the
# README's lines (e2e/servers.sh) in private mount and pid namespaces, on
# http://127.0.0.1:8080/ (PORT=... for another port), with scratch copies of examples/tn3 and
# examples/kv2 as /var/www/tn3/ and /var/www/kv2/; prints the address and the two directories
# to type. Ctrl-C, or a kill of this script's pid, stops the server. Needs root: it installs
# the README's packages when missing, and Apache runs the program as www-data.
set -euo pipefail
cd "$(dirname "$0")/.."
export SERVERS_PORT=${PORT:-8080}
source e2e/servers.sh

if [ "${1:-}" = --inside ]; then
  work=$SERVERS_WORK
  start_prefork > "$work/start.log" 2>&1 || {
    cat "$work/start.log"
    fail "Apache did not start (is something else using port $port? try PORT=8081)"
  }
  chown -R www-data: /var/www/kv2
  cat << END

convert.cgi is served by Debian's Apache (prefork MPM, mod_cgi).

  Open:                            http://127.0.0.1:$port/cgi-bin/convert.cgi
  path to tolvane 3 directory:     /var/www/tn3/
  path to kavrel v2 directory:     /var/www/kv2/

Submit, then look at what changed in $work/www/kv2/, which the server sees as
/var/www/kv2/ (a scratch copy: examples/ is never written). Submitting again shows every
trade as skipping. Server log: $work/apache2/log/error.log
Press Ctrl-C to stop the server.
END
  while :; do sleep 3600; done
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: Apache must be started as root to run the program as www-data" >&2
  exit 1
fi
servers_install build apache
servers_prepare apache2
trap 'servers_kill; echo "server stopped; the scratch installations stay in $work/www"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
SERVERS_NET=host servers_enter "$PWD/scripts/try_in_browser.sh" --inside

#!/bin/bash
# Stops the server whose pid file is given (Apache httpd, nginx, fcgiwrap or
# lighttpd), if it still runs, and waits until it has gone. Only that process:
# nothing is looked up by name.
set -uo pipefail
pid_file=$1
[ -f "$pid_file" ] || exit 0
pid=$(cat "$pid_file")
if [[ "$pid" =~ ^[0-9]+$ ]] && [ "$pid" -gt 1 ] && kill -TERM "$pid" 2> /dev/null; then
  for _ in $(seq 100); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2> /dev/null
fi
rm -f "$pid_file"
exit 0

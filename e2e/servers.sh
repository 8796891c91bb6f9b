#!/bin/bash
# The five server setups of the README, started from its own blocks (the fenced blocks after a
# line "<!-- readme_check: NAME -->") as they stand, and stopped by their pid files:
#   apache    Debian's Apache, event MPM and mod_cgid: the README's walk (build, cgid, the
#             password owner:secret, backup and install)
#   prefork   Debian's Apache, prefork MPM and mod_cgi
#   nginx     nginx with fcgiwrap, the location block of e2e/servers/ in the default site
#   lighttpd  lighttpd with mod_cgi
#   hosting   an account under Debian's Apache with mod_userdir and suEXEC, which unpacks and
#             uploads the release of dist/ as the README's shared-hosting steps say (backup,
#             live site on hold, password owner:secret); a neighbour account has a page too
# Each serves http://127.0.0.1:8080 (SERVERS_PORT) in a private mount and pid namespace (and
# network namespace, unless SERVERS_NET=host), where the servers' configuration and state
# folders are fresh copies of the machine's for each start, and /usr/lib/cgi-bin,
# /usr/local/bin, /var/www, the servers' log folders, /run and HOME are scratch folders: the
# machine's own servers and files stay as they are, and whatever runs in the namespace ends
# with it.
# Sourced by scripts/readme_check.sh, scripts/browser_test.sh and scripts/try_in_browser.sh:
#   servers_install BLOCK...  runs the README's apt-get lines of the blocks for missing packages
#   servers_prepare SERVER... the scratch folder $work, with copies of /etc/SERVER (as root)
#   servers_enter CMD...      runs CMD in the namespace, then stops every server
#   servers_kill              ends the namespace of servers_enter from a trap
# and run, in the namespace, as "e2e/servers.sh start SETUP" and "e2e/servers.sh stop".
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
port=${SERVERS_PORT:-8080}

fail() {
  echo "servers: $*" >&2
  exit 1
}

# Prints the fenced block that follows the line MARKER in README.md.
block() {
  awk -v marker="$1" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' "$repo/README.md"
}

# Prints the commands of a recipe block; fails when the README has no such block.
recipe() {
  local text
  text=$(block "<!-- readme_check: $1 -->")
  [ -n "$text" ] || fail "README.md has no block after <!-- readme_check: $1 -->"
  printf '%s\n' "$text"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2> /dev/null | grep -q "install ok installed"; }

# Runs the README's apt-get lines of the blocks as they stand when a package they name is
# missing, with a policy-rc.d that keeps the packages from starting their services.
servers_install() {
  local line package missing policy=/usr/sbin/policy-rc.d added
  local -a words
  while read -r line; do
    read -ra words <<< "$line"
    missing=false
    for package in "${words[@]:2}"; do
      [[ $package == -* ]] || installed "$package" || missing=true
    done
    $missing || continue
    added=false
    [ -e $policy ] || { printf '#!/bin/sh\nexit 101\n' > $policy && chmod +x $policy && added=true; }
    echo "+ $line"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive bash -ec "$line" || missing=failed
    ! $added || rm -f $policy
    [ $missing != failed ] || fail "$line failed"
  done < <(for name in "$@"; do recipe "$name" | grep '^apt-get '; done)
  "$repo/scripts/install_deps.sh" --build curl iproute2
}

# Fails unless the lines of FILE that match PATTERN are exactly EXPECTED: a configuration
# that is not as Debian ships it is not rewritten by guesswork.
only_listens() {
  [ "$(grep -e "$2" "$1" || true)" = "$3" ] || fail "$1 is not as its package ships it: $(grep -e "$2" "$1")"
}

servers_prepare() {
  work=$(mktemp -d /tmp/convert-servers-XXXXXX)
  chmod 755 "$work"
  mkdir -p "$work/cgi-bin" "$work/bin" "$work/www/html" "$work/home" "$work/homes"
  cp -a "$repo/examples/tn3" "$repo/examples/kv2" "$work/www/"
  local server state
  for server in "$@"; do
    mkdir -p "$work/$server/log"
    chown --reference="/var/log/$server" "$work/$server/log"
    cp -a "/etc/$server" "$work/$server/etc"
    # Where a2enmod notes what the admin enabled, and nginx's and lighttpd's working folders.
    for state in "/var/lib/$server" "/var/cache/$server"; do
      [ ! -d "$state" ] || cp -a "$state" "$work/$server/${state//\//-}"
    done
  done
  # Each server listens on 127.0.0.1:$port, and on nothing else.
  local etc=$work/apache2/etc
  if [ -d "$etc" ]; then
    sed -i "s/^Listen 80$/Listen 127.0.0.1:$port/" "$etc/ports.conf"
    sed -i "s/<VirtualHost \*:80>/<VirtualHost *:$port>/" "$etc/sites-available/000-default.conf"
    only_listens "$etc/ports.conf" '^Listen' "Listen 127.0.0.1:$port"
  fi
  etc=$work/nginx/etc
  if [ -d "$etc" ]; then
    sed -i -e "s/^\tlisten 80 default_server;/\tlisten 127.0.0.1:$port default_server;/" \
      -e '/^\tlisten \[::\]:80 default_server;/d' "$etc/sites-available/default"
    only_listens "$etc/sites-available/default" '^\s*listen' $'\t'"listen 127.0.0.1:$port default_server;"
  fi
  etc=$work/lighttpd/etc
  if [ -d "$etc" ]; then
    sed -i -e "s/^server.port *= 80$/server.port = $port\nserver.bind = \"127.0.0.1\"/" \
      -e '/use-ipv6.pl/d' "$etc/lighttpd.conf"
    only_listens "$etc/lighttpd.conf" '^server\.\(port\|bind\)\|use-ipv6' \
      "server.port = $port"$'\n''server.bind = "127.0.0.1"'
  fi
}

# In the background, so that a caller's trap runs at once on a signal and may call
# servers_kill. setsid: no terminal, so htpasswd reads the password from its standard input.
servers_enter() {
  local net=--net
  [ "${SERVERS_NET:-}" != host ] || net=
  unshare --mount $net --pid --kill-child --mount-proc \
    setsid --wait "$repo/e2e/servers.sh" inside "$work" "$@" &
  servers_pid=$!
  wait "$servers_pid"
}

# Kills the first process of the namespace, and so everything in it; unshare waits for it.
servers_kill() {
  local first
  first=$(cat "/proc/${servers_pid:-0}/task/${servers_pid:-0}/children" 2> /dev/null) || return 0
  [ -z "$first" ] || kill -KILL "$first" 2> /dev/null || true
}

# --- in the namespace ---

# Mounts the scratch folders of servers_prepare over the machine's.
mount_work() {
  [ "${SERVERS_NET:-}" = host ] || ip link set lo up
  mount --bind "$work/cgi-bin" /usr/lib/cgi-bin
  mount --bind "$work/bin" /usr/local/bin  # cmake --install puts convert-trades there
  mount --bind "$work/www" /var/www
  mount -t tmpfs tmpfs /run
  mkdir /run/lock
  local server
  for server in apache2 nginx lighttpd; do
    [ ! -d "$work/$server" ] || mount --bind "$work/$server/log" "/var/log/$server"
  done
}

# Puts a fresh copy of the prepared configuration and state of SERVER in place.
fresh_config() {
  local copy state
  copy=$(mktemp -d "$work/$1/start-XXXXXX")
  cp -a "$work/$1/etc" "$copy/etc"
  mount --bind "$copy/etc" "/etc/$1"
  for state in "/var/lib/$1" "/var/cache/$1"; do
    [ -d "$work/$1/${state//\//-}" ] || continue
    cp -a "$work/$1/${state//\//-}" "$copy/state${state//\//-}"
    mount --bind "$copy/state${state//\//-}" "$state"
  done
}

# Stops the process of each pid file, if it still runs, and waits until it has gone (SIGKILL
# after 10 s). Only that process: nothing is looked up by name.
stop_pid_files() {
  local file pid
  for file in "$@"; do
    pid=$(cat "$file" 2> /dev/null) || continue
    if [[ $pid =~ ^[0-9]+$ ]] && [ "$pid" -gt 1 ] && kill -TERM "$pid" 2> /dev/null; then
      for _ in $(seq 100); do
        kill -0 "$pid" 2> /dev/null || break
        sleep 0.1
      done
      kill -KILL "$pid" 2> /dev/null || true
    fi
    rm -f "$file"
  done
}

servers_stop() {
  stop_pid_files /run/apache2/apache2.pid /run/nginx.pid /run/fcgiwrap.pid /run/lighttpd.pid
}

# Runs a recipe block without its apt-get lines (those ran before), echoing each command.
run_recipe() {
  echo "== README: $1"
  local commands
  commands=$(recipe "$1" | { grep -v '^apt-get ' || true; })
  (cd "$repo" && bash -euxo pipefail -c "$commands")
}

# Runs a recipe block as the account, in FOLDER, with the account's HOME.
run_recipe_as() {
  local account=$1 folder=$2 commands
  echo "== README, as $account in $folder: $3"
  commands=$(recipe "$3")
  (cd "$folder" && setpriv --reuid="$account" --regid="$account" --clear-groups \
    env -i HOME="/home/$account" PATH=/usr/bin:/bin bash -euxo pipefail -c "$commands")
}

# Waits until URL answers with the status (a reload takes effect a moment later).
await_status() {
  local status=$1 url=$2 got
  shift 2
  for _ in $(seq 100); do
    got=$(curl -s -o /dev/null -w '%{http_code}' "$@" "$url" || true)
    [ "$got" = "$status" ] && return 0
    sleep 0.1
  done
  fail "$url answers $got, not $status"
}

# Fails unless each line of the e2e/servers/ file SNIPPET, but comments and those matching
# SKIP, is a line of FILE (indentation aside): the README says the package ships them.
ships() {
  local line
  while read -r line; do
    [[ -z $line || $line == \#* || $line =~ ${3:-^$} ]] && continue
    grep -q "^\s*$(sed 's/[][\.*^$/]/\\&/g' <<< "$line")\s*$" "$1" ||
      fail "$1 lacks the line of e2e/servers/$2: $line"
  done < "$repo/e2e/servers/$2"
}

install_program() {
  [ -e /usr/lib/cgi-bin/convert.cgi ] && return
  run_recipe build
  (cd "$repo" && cmake --install build-site > /dev/null)
}

start_apache() {
  fresh_config apache2
  ships /etc/apache2/conf-available/serve-cgi-bin.conf apache-cgi-bin.conf '^SetEnv'
  # Installing the package starts Apache as the package configures it.
  apache2ctl start
  run_recipe build
  run_recipe apache
  printf 'secret\nsecret\n' | run_recipe protect
  run_recipe install
  await_status 401 "http://127.0.0.1:$port/cgi-bin/convert.cgi"
}

start_prefork() {
  fresh_config apache2
  a2dismod -q mpm_event
  a2enmod -q mpm_prefork
  apache2ctl start
  run_recipe prefork
  apache2ctl -V | grep -q 'Server MPM: *prefork' || fail "Apache runs no prefork MPM"
  install_program
  await_status 200 "http://127.0.0.1:$port/cgi-bin/convert.cgi"
}

# fcgiwrap as Debian's fcgiwrap.socket unit starts it.
start_nginx() {
  fresh_config nginx
  install_program
  setpriv --reuid=www-data --regid=www-data --init-groups \
    /usr/sbin/fcgiwrap -f -s unix:/run/fcgiwrap.socket < /dev/null > /dev/null 2>> /var/log/nginx/fcgiwrap.log &
  echo $! > /run/fcgiwrap.pid
  nginx
  # The reader's edit: the location block into the server block of the default site.
  sed -i "/^\tserver_name _;$/r $repo/e2e/servers/nginx-location.conf" /etc/nginx/sites-available/default
  run_recipe nginx
  run_recipe nginx-reload
  await_status 200 "http://127.0.0.1:$port/cgi-bin/convert.cgi"
}

start_lighttpd() {
  fresh_config lighttpd
  ships /etc/lighttpd/conf-available/10-cgi.conf lighttpd-cgi.conf
  install_program
  service lighttpd start > /dev/null
  run_recipe lighttpd
  await_status 200 "http://127.0.0.1:$port/cgi-bin/convert.cgi"
}

# Adds an account that exists only in this namespace, with a home of its own under /home,
# a scratch folder: copies of /etc/passwd and /etc/group name it.
add_account() {
  local name=$1 id=2000
  while cut -d: -f3 /etc/passwd /etc/group | grep -qx "$id"; do id=$((id + 1)); done
  [ -e "$work/passwd" ] || {
    cp /etc/passwd "$work/passwd"
    cp /etc/group "$work/group"
    mount --bind "$work/passwd" /etc/passwd
    mount --bind "$work/group" /etc/group
    chmod 755 "$work/homes"
    mount --bind "$work/homes" /home
  }
  echo "$name:x:$id:$id:$name:/home/$name:/bin/sh" >> /etc/passwd
  echo "$name:x:$id:" >> /etc/group
  mkdir -p "/home/$name/public_html"
  chown -R "$name:" "/home/$name"
  chmod 711 "/home/$name"
  chmod 755 "/home/$name/public_html"
}

# The host: prefork MPM, mod_cgi, mod_userdir, suEXEC and the overrides of the README.
start_hosting() {
  local account=siteowner home=/home/siteowner
  fresh_config apache2
  /usr/lib/apache2/suexec -V 2>&1 | grep -q 'AP_USERDIR_SUFFIX="public_html"' ||
    fail "Apache's suexec is not Debian's apache2-suexec-pristine"
  add_account "$account"
  add_account neighbour
  # What the account holds before: the installations beside public_html, the live site's
  # script folder, and the release it downloaded.
  mkdir -p "$home/public_html/trades" "$home/download"
  cp -a "$repo/examples/tn3" "$repo/examples/kv2" "$home/"
  echo "the live site" > "$home/public_html/trades/index.html"
  cp "$repo"/dist/convert.cgi-*-linux-x86_64.tar.gz "$repo/dist/SHA256SUMS" "$home/download/"
  chown -R "$account:" "$home"
  chmod 755 "$home/public_html/trades"
  a2dismod -q mpm_event
  a2enmod -q mpm_prefork cgi userdir suexec
  cp "$repo/e2e/servers/apache-userdir.conf" /etc/apache2/conf-available/userdir-overrides.conf
  a2enconf -q userdir-overrides
  apache2ctl start
  run_recipe_as "$account" "$home" hosting-backup
  await_status 200 "http://127.0.0.1:$port/~$account/trades/"
  run_recipe_as "$account" "$home" hosting-hold
  await_status 404 "http://127.0.0.1:$port/~$account/trades/"
  run_recipe_as "$account" "$home/download" hosting-unpack
  run_recipe_as "$account" "$home/download" hosting-upload
  # The reader's edit: the home folder in place of /home/USER.
  sed "s|/home/USER/|$home/|" "$repo/e2e/servers/htaccess" > "$home/public_html/cgi-bin/.htaccess"
  chown "$account:" "$home/public_html/cgi-bin/.htaccess"
  printf 'secret\nsecret\n' | run_recipe_as "$account" "$home" hosting-password
  await_status 401 "http://127.0.0.1:$port/~$account/cgi-bin/convert.cgi"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case ${1:-} in
    inside)
      work=$2
      shift 2
      mount_work
      export HOME=$work/home SERVERS_WORK=$work
      status=0
      "$@" || status=$?
      servers_stop
      exit "$status"
      ;;
    start)
      work=${SERVERS_WORK:?}
      "start_$2"
      ;;
    stop) servers_stop ;;
    *) fail "usage: e2e/servers.sh start apache|prefork|nginx|lighttpd|hosting, or stop" ;;
  esac
fi

#!/bin/bash
# Checks that README.md shows what is tested.
#   snippets  each server configuration block of the README (the fenced block after a line
#             "`e2e/servers/FILE`:") is byte for byte that file, and every file under
#             e2e/servers/ is shown.
#   apache    runs the README's walk through Debian's Apache (build, cgid, password, backup,
#             install, removal, restore) and converts examples/ through that server with curl.
#   servers   runs the README's commands for Apache with prefork and mod_cgi, nginx with
#             fcgiwrap and lighttpd, and converts examples/ through each.
#   hosting   runs the README's shared-hosting commands as an account (backup, the live site
#             on hold, check and unpack the release of dist/, upload and its SHA-256,
#             password, removal, restore, the live site back) under Debian's Apache with
#             mod_userdir and suEXEC, and converts examples/ through it; then makes each
#             fault of the README's list on the server's errors and checks the status and
#             the log words it quotes.
# The last three need root. They run the README's blocks (the fenced blocks after a line
# "<!-- readme_check: NAME -->") as they stand, after its apt-get lines have run here when a
# package was missing, in a private mount, network and pid namespace: the servers'
# configuration and state folders are copies of the machine's, and /usr/lib/cgi-bin, /var/www,
# the servers' log folders, /run and HOME are scratch folders, so the machine's own servers and
# their files stay as they are. Each takes a few seconds once the build is there.
# With no argument, all four.
set -euo pipefail
cd "$(dirname "$0")/.."

# Prints the fenced block that follows the line MARKER in README.md.
block() {
  awk -v marker="$1" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' README.md
}

# Prints the commands of a recipe block; fails when the README has no such block.
recipe() {
  local text
  text=$(block "<!-- readme_check: $1 -->")
  if [ -z "$text" ]; then
    echo "README.md has no block after <!-- readme_check: $1 -->" >&2
    return 1
  fi
  printf '%s\n' "$text"
}

check_snippets() {
  local status=0 file
  local -a shown
  # shellcheck disable=SC2016 # the backquotes are the README's
  mapfile -t shown < <(sed -n 's/^`\(e2e\/servers\/[^`]*\)`:$/\1/p' README.md)
  for file in "${shown[@]}"; do
    if [ ! -f "$file" ]; then
      echo "README.md shows $file, which does not exist" >&2
      status=1
    elif ! diff -u --label "$file" --label "README.md" "$file" <(block "\`$file\`:") >&2; then
      status=1
    fi
  done
  for file in e2e/servers/*; do
    grep -qxF "\`$file\`:" README.md || {
      echo "README.md does not show $file" >&2
      status=1
    }
  done
  [ "$status" -eq 0 ] && echo "readme: ${#shown[@]} server snippets are those of e2e/servers/"
  return "$status"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2> /dev/null | grep -q "install ok installed"; }

# Runs the README's apt-get lines of the given blocks when a package they name is missing,
# without letting the packages start their services.
install_from_readme() {
  local line package missing policy_added=false
  local -a words
  while read -r line; do
    read -ra words <<< "$line"
    missing=false
    for package in "${words[@]:2}"; do
      [[ $package == -* ]] || installed "$package" || missing=true
    done
    $missing || continue
    if [ ! -e /usr/sbin/policy-rc.d ]; then
      printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
      chmod +x /usr/sbin/policy-rc.d
      policy_added=true
    fi
    apt-get update -q
    echo "+ $line"
    DEBIAN_FRONTEND=noninteractive bash -ec "$line"
    if $policy_added; then
      rm -f /usr/sbin/policy-rc.d
      policy_added=false
    fi
  done < <(for name in "$@"; do recipe "$name" | grep '^apt-get '; done)
}

# Copies what the namespace puts in place of the machine's folders into $work.
works=()
prepare_work() {
  work=$(mktemp -d /tmp/convert-readme-XXXXXX)
  works+=("$work")
  trap 'rm -rf "${works[@]}"' EXIT
  chmod 755 "$work"
  mkdir -p "$work/cgi-bin" "$work/www/html" "$work/home"
  cp -a examples/tn3 examples/kv2 "$work/www/"
  local server
  for server in "$@"; do
    mkdir -p "$work/$server/log"
    chown --reference="/var/log/$server" "$work/$server/log"
    cp -a "/etc/$server" "$work/$server/etc"
    # Where a2enmod notes what the admin enabled, and nginx's and lighttpd's working folders.
    for state in "/var/lib/$server" "/var/cache/$server"; do
      [ ! -d "$state" ] || cp -a "$state" "$work/$server/${state//\//-}"
    done
  done
  # Each server listens on 127.0.0.1:8080 of its own network namespace, and on nothing else.
  if [ -d "$work/apache2" ]; then
    sed -i 's/^Listen 80$/Listen 127.0.0.1:8080/' "$work/apache2/etc/ports.conf"
    sed -i 's/<VirtualHost \*:80>/<VirtualHost *:8080>/' \
      "$work/apache2/etc/sites-available/000-default.conf"
    only_listens "$work/apache2/etc/ports.conf" '^Listen' 'Listen 127.0.0.1:8080'
  fi
  if [ -d "$work/nginx" ]; then
    sed -i -e 's/^\tlisten 80 default_server;/\tlisten 127.0.0.1:8080 default_server;/' \
      -e '/^\tlisten \[::\]:80 default_server;/d' "$work/nginx/etc/sites-available/default"
    only_listens "$work/nginx/etc/sites-available/default" '^\s*listen' \
      $'\tlisten 127.0.0.1:8080 default_server;'
  fi
  if [ -d "$work/lighttpd" ]; then
    sed -i -e 's/^server.port *= 80$/server.port = 8080\nserver.bind = "127.0.0.1"/' \
      -e '/use-ipv6.pl/d' "$work/lighttpd/etc/lighttpd.conf"
    only_listens "$work/lighttpd/etc/lighttpd.conf" '^server\.\(port\|bind\)\|use-ipv6' \
      $'server.port = 8080\nserver.bind = "127.0.0.1"'
  fi
}

# Fails unless the lines of FILE that match PATTERN are exactly EXPECTED: a configuration
# that is not as Debian ships it is not rewritten by guesswork.
only_listens() {
  [ "$(grep -e "$2" "$1" || true)" = "$3" ] || {
    echo "readme: $1 is not as its package ships it; its listen lines:" >&2
    grep -e "$2" "$1" >&2
    return 1
  }
}

# Runs this script again in the private namespaces. setsid: no terminal, so htpasswd reads
# the password from its standard input.
in_namespace() {
  setsid --wait unshare --mount --net --pid --fork --mount-proc \
    "$PWD/scripts/readme_check.sh" --inside "$1" "$work"
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "readme_check.sh $1: run as root" >&2
    return 1
  fi
  local tool
  for tool in curl iproute2; do
    installed "$tool" || DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$tool"
  done
}

check_apache() {
  need_root apache
  install_from_readme build apache
  prepare_work apache2
  # The default destination, for the README's sentence about it.
  cmake -S . -B "$work/build-default" -G Ninja -DCONVERT_BUILD_TESTS=OFF > /dev/null
  grep -qx 'CGI_BIN_DIR:PATH=/usr/local/lib/cgi-bin' "$work/build-default/CMakeCache.txt" || {
    echo "readme: cmake --install no longer defaults to /usr/local/lib/cgi-bin" >&2
    return 1
  }
  in_namespace apache
  echo "readme: the Debian Apache walk works as the README shows it"
}

check_servers() {
  need_root servers
  install_from_readme build apache nginx lighttpd
  prepare_work apache2 nginx lighttpd
  in_namespace servers
  echo "readme: the prefork Apache, nginx and lighttpd commands work as the README shows them"
}

# --- in the private namespaces ---

fail() {
  echo "readme: $*" >&2
  exit 1
}

# Runs a recipe block without its apt-get lines (those ran outside), echoing each command.
run_recipe() {
  echo "== README: $1"
  local commands
  commands=$(recipe "$1" | { grep -v '^apt-get ' || true; })
  bash -euxo pipefail -c "$commands"
}

pid_files=()
stop_servers() {
  local file pid
  for file in "${pid_files[@]}"; do
    pid=$(cat "$file" 2> /dev/null) || continue
    kill -TERM "$pid" 2> /dev/null || continue
    for _ in $(seq 50); do
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
  done
}

# Mounts the copies of prepare_work over the machine's folders.
mount_work() {
  local work=$1 server state
  ip link set lo up
  mount --bind "$work/cgi-bin" /usr/lib/cgi-bin
  mkdir -p "$work/bin"  # cmake --install puts convert-trades into /usr/local/bin
  mount --bind "$work/bin" /usr/local/bin
  mount --bind "$work/www" /var/www
  mount -t tmpfs tmpfs /run
  mkdir /run/lock
  export HOME="$work/home"
  for server in apache2 nginx lighttpd; do
    [ -d "$work/$server" ] || continue
    mount --bind "$work/$server/etc" "/etc/$server"
    mount --bind "$work/$server/log" "/var/log/$server"
    for state in "/var/lib/$server" "/var/cache/$server"; do
      [ ! -d "$work/$server/${state//\//-}" ] || mount --bind "$work/$server/${state//\//-}" "$state"
    done
  done
  trap stop_servers EXIT
}

# Waits until URL answers with the status (a reload takes effect a moment later).
await_status() {
  local status=$1 url=$2 got
  shift 2
  for _ in $(seq 50); do
    got=$(curl -s -o /dev/null -w '%{http_code}' "$@" "$url")
    [ "$got" = "$status" ] && return 0
    sleep 0.1
  done
  fail "$url answers $got, not $status"
}

# Submits the form for SOURCE (a copy of examples/tn3) into TARGET (a copy of
# examples/kv2), /var/www/tn3/ and /var/www/kv2/ unless set, and checks the page and the
# grown index.
expect_conversion() {
  local url=$1 page source=${SOURCE:-/var/www/tn3/} target=${TARGET:-/var/www/kv2/}
  local index=${TARGET:-/var/www/kv2/}d/t/index
  shift
  curl -sf "$@" "$url" | grep -q 'name="tolvane3"' || fail "$url: no form"
  page=$(curl -sf "$@" --data-urlencode tolvane3="$source" \
    --data-urlencode kavrelv2="$target" --data submit=submit "$url")
  [ "$(grep -o 'added [a-z]*\|skipping [a-z]*' <<< "$page" | tr '\n' ' ')" = \
    "added sunnyhills skipping bluebay added greenfield added redrock " ] ||
    fail "$url: conversion page: $page"
  [ "$(stat -c %s "$index")" -eq $(($(stat -c %s examples/kv2/d/t/index) + 3 * 996)) ] ||
    fail "$url: the index did not grow by three records"
}

# Fails when the server compresses the page for a client that asks for gzip: the browser
# would then show nothing of a long run until it ends.
expect_uncompressed() {
  local url=$1
  shift
  ! curl -sf -o /dev/null -D - -H 'Accept-Encoding: gzip' "$@" "$url" |
    grep -qi '^content-encoding:' || fail "$url: the page comes compressed"
}

fresh_target() {
  rm -rf /var/www/kv2
  cp -a examples/kv2 /var/www/
  chown -R www-data: /var/www/kv2
}

inside_apache() {
  mount_work "$1"
  pid_files=(/run/apache2/apache2.pid)
  local url=http://127.0.0.1:8080/cgi-bin/convert.cgi
  # Installing the package starts Apache as the package configures it.
  apache2ctl start
  run_recipe build
  run_recipe apache
  printf 'secret\nsecret\n' | run_recipe protect
  run_recipe install
  await_status 401 "$url"
  await_status 401 "$url" -u owner:wrong
  expect_conversion "$url" -u owner:secret
  expect_uncompressed "$url" -u owner:secret
  [ "$(find /var/www/kv2/d/h -name '*.his' -newer "$HOME/kv2-before-convert.tar.gz" | wc -l)" \
    -eq 3 ] || fail "not three new history files"

  run_recipe remove
  await_status 404 "$url" -u owner:secret
  [ ! -e /etc/apache2/conf-enabled/convert-auth.conf ] || fail "the protection is still enabled"

  run_recipe restore
  diff -r examples/kv2 /var/www/kv2 || fail "the restored target differs from the original"
}

inside_servers() {
  mount_work "$1"
  local url=http://127.0.0.1:8080/cgi-bin/convert.cgi
  run_recipe build
  cmake --install build-site > /dev/null

  echo "== Apache with the prefork MPM"
  pid_files=(/run/apache2/apache2.pid)
  a2dismod -q mpm_event
  a2enmod -q mpm_prefork
  apache2ctl start
  run_recipe prefork
  apache2ctl -V | grep -q 'Server MPM: *prefork' || fail "Apache runs no prefork MPM"
  fresh_target
  expect_conversion "$url"
  stop_servers

  echo "== nginx with fcgiwrap, as the fcgiwrap.socket unit starts it"
  setpriv --reuid=www-data --regid=www-data --init-groups \
    /usr/sbin/fcgiwrap -s unix:/run/fcgiwrap.socket &
  echo $! > /run/fcgiwrap.pid
  pid_files=(/run/nginx.pid /run/fcgiwrap.pid)
  nginx
  # The reader's edit: the location block into the server block of the default site.
  sed -i '/^\tserver_name _;$/r e2e/servers/nginx-location.conf' /etc/nginx/sites-available/default
  run_recipe nginx
  run_recipe nginx-reload
  await_status 200 "$url"
  fresh_target
  expect_conversion "$url"
  stop_servers

  echo "== lighttpd with mod_cgi"
  pid_files=(/run/lighttpd.pid)
  service lighttpd start
  run_recipe lighttpd
  await_status 200 "$url"
  fresh_target
  expect_conversion "$url"
}

# Runs a recipe block as the account, in FOLDER, with the account's HOME.
run_recipe_as() {
  local account=$1 folder=$2 commands
  echo "== README, as $account in $folder: $3"
  commands=$(recipe "$3")
  (cd "$folder" && setpriv --reuid="$account" --regid="$account" --clear-groups \
    env -i HOME="/home/$account" PATH=/usr/bin:/bin bash -euxo pipefail -c "$commands")
}

inside_hosting() {
  local work=$1 account=siteowner id=2000 home script page
  mount_work "$work"
  # The account exists only in this namespace: copies of /etc/passwd and /etc/group name it,
  # and /home is a scratch folder.
  while cut -d: -f3 /etc/passwd /etc/group | grep -qx "$id"; do id=$((id + 1)); done
  cp /etc/passwd "$work/passwd"
  cp /etc/group "$work/group"
  echo "$account:x:$id:$id:site owner:/home/$account:/bin/sh" >> "$work/passwd"
  echo "$account:x:$id:" >> "$work/group"
  mount --bind "$work/passwd" /etc/passwd
  mount --bind "$work/group" /etc/group
  mkdir -m 755 "$work/homes"
  mount --bind "$work/homes" /home
  home=/home/$account
  mkdir -m 711 "$home"
  # What the account holds before: the installations beside public_html, the live site's
  # script folder, and the release it downloaded.
  mkdir -p "$home/public_html/trades" "$home/download"
  cp -a examples/tn3 examples/kv2 "$home/"
  echo "the live site" > "$home/public_html/trades/index.html"
  cp dist/convert.cgi-*-linux-x86_64.tar.gz dist/SHA256SUMS "$home/download/"
  chown -R "$account:" "$home"
  chmod 755 "$home/public_html" "$home/public_html/trades"

  # The host: prefork MPM, mod_cgi, mod_userdir, suEXEC and the overrides of the README.
  pid_files=(/run/apache2/apache2.pid)
  a2dismod -q mpm_event
  a2enmod -q mpm_prefork cgi userdir suexec
  cp e2e/servers/apache-userdir.conf /etc/apache2/conf-available/userdir-overrides.conf
  a2enconf -q userdir-overrides
  apache2ctl start

  local url=http://127.0.0.1:8080/~$account/cgi-bin/convert.cgi
  local live=http://127.0.0.1:8080/~$account/trades/
  run_recipe_as "$account" "$home" hosting-backup
  await_status 200 "$live"
  run_recipe_as "$account" "$home" hosting-hold
  await_status 404 "$live"
  run_recipe_as "$account" "$home/download" hosting-unpack
  run_recipe_as "$account" "$home/download" hosting-upload
  local sum
  sum=$(sed -n 's/^convert.cgi SHA-256: \([0-9a-f]\{64\}\)$/\1/p' "$home"/download/convert.cgi-*/UPLOAD.txt)
  [ -n "$sum" ] || fail "UPLOAD.txt gives no SHA-256 of convert.cgi"
  run_recipe_as "$account" "$home" hosting-sha256 | grep -q "^$sum " ||
    fail "the uploaded convert.cgi has not the SHA-256 of UPLOAD.txt"
  # The reader's edit: the home folder in place of /home/USER.
  sed "s|/home/USER/|$home/|" e2e/servers/htaccess > "$home/public_html/cgi-bin/.htaccess"
  chown "$account:" "$home/public_html/cgi-bin/.htaccess"
  printf 'secret\nsecret\n' | run_recipe_as "$account" "$home" hosting-password
  await_status 401 "$url"
  await_status 401 "$url" -u owner:wrong

  # The two fields, worked out from the page's first line as the README says.
  page=$(curl -sf -u owner:secret "$url")
  script=$(sed -n 's|.*current path of convert.cgi <span[^>]*>\([^<]*\)</span>.*|\1|p' <<< "$page")
  [ "$script" = "$home/public_html/cgi-bin/convert.cgi" ] || fail "the page names $script"
  SOURCE=${script%/public_html/*}/tn3/ TARGET=${script%/public_html/*}/kv2/ \
    expect_conversion "$url" -u owner:secret
  expect_uncompressed "$url" -u owner:secret
  [ "$(find "$home/kv2/d/h" -name '*.his' -user "$account" \
    -newer "$home/kv2-before-convert.tar.gz" | wc -l)" -eq 3 ] ||
    fail "not three new history files of the account"
  grep -q "uid: ($id/$account) gid: ($id/$account) cmd: convert.cgi" /var/log/apache2/suexec.log ||
    fail "suEXEC did not run the program as the account"

  expect_troubles "$account" "$home/public_html/cgi-bin" "$url"

  run_recipe_as "$account" "$home" hosting-remove
  await_status 404 "$url" -u owner:secret
  run_recipe_as "$account" "$home" hosting-restore
  diff -r examples/kv2 "$home/kv2" || fail "the restored target differs from the original"
  run_recipe_as "$account" "$home" hosting-unhold
  await_status 200 "$live"
}

# The README's text on the server's errors, from its heading to the next one, blanks and
# line breaks made single spaces.
readme_on_errors() {
  awk '/^#+ .*500 Internal Server Error/ { on = 1; print; next } on && /^#/ { exit } on' \
    README.md | tr -s ' \n' '  '
}

# Runs a command as the account whose name is in $account.
as_account() { setpriv --reuid="$account" --regid="$account" --clear-groups "$@"; }

# Checks that $url answers STATUS (with the password), that the lines the server adds to LOG
# meanwhile hold the text QUOTED and that the README's text on errors ($readme) quotes it.
# FAULT names the fault for the output. The added lines are left in $logged.
logged=
expect_trouble() {
  local fault=$1 status=$2 log=/var/log/apache2/$3 quoted=$4 lines
  lines=$(wc -l < "$log")
  await_status "$status" "$url" -u owner:secret
  logged=$(tail -n +"$((lines + 1))" "$log")
  echo "== $fault: $status, $3: $logged"
  grep -qF -- "$quoted" <<< "$logged" || fail "$fault: $3 does not say \"$quoted\""
  grep -qF -- "$quoted" <<< "$readme" || fail "the README on errors does not quote \"$quoted\""
}

# Makes each fault of the README's list on the server's errors in FOLDER, the account's
# cgi-bin, as the account would, and puts it right again.
expect_troubles() {
  local account=$1 folder=$2 url=$3 readme
  readme=$(readme_on_errors)
  local program=$folder/convert.cgi
  cp "$program" "$work/program"
  cp "$folder/.htaccess" "$work/htaccess"

  as_account sed -i "s|^AuthUserFile .*|AuthUserFile /home/USER/public_html/cgi-bin/.htpasswd|" \
    "$folder/.htaccess"
  await_status 401 "$url"
  expect_trouble "/home/USER left in .htaccess" 500 error.log \
    "Could not open password file: /home/USER/public_html/cgi-bin/.htpasswd"
  as_account cp "$work/htaccess" "$folder/.htaccess"

  as_account sed -i '/^Options /d' "$folder/.htaccess"
  expect_trouble "no Options +ExecCGI" 403 error.log "Options ExecCGI is off in this directory"
  as_account cp "$work/htaccess" "$folder/.htaccess"

  sed -i 's/ Options=ExecCGI$//' /etc/apache2/conf-available/userdir-overrides.conf
  apache2ctl graceful
  expect_trouble "Options not allowed by the host" 500 error.log \
    ".htaccess: Options not allowed here"
  cp e2e/servers/apache-userdir.conf /etc/apache2/conf-available/userdir-overrides.conf
  apache2ctl graceful
  await_status 200 "$url" -u owner:secret

  as_account chmod 644 "$program"
  expect_trouble "convert.cgi with mode 644" 500 suexec.log "file has no execute permission"
  expect_trouble "convert.cgi with mode 644" 500 error.log \
    "suexec policy violation: see suexec log for more details"
  as_account chmod 775 "$program"
  expect_trouble "convert.cgi with mode 775" 500 suexec.log "file is writable by others"
  as_account chmod 755 "$program"
  as_account chmod 775 "$folder"
  expect_trouble "cgi-bin with mode 775" 500 suexec.log "directory is writable by others"
  as_account chmod 755 "$folder"
  chown www-data: "$program"
  expect_trouble "convert.cgi given to www-data" 500 suexec.log "mismatch with directory"
  chown "$account:" "$program"

  as_account truncate -s $(($(stat -c %s "$program") / 2)) "$program"
  expect_trouble "convert.cgi cut short" 500 error.log \
    "End of script output before headers: convert.cgi"
  ! grep -q "policy violation" <<< "$logged" || fail "suEXEC refused the program cut short"
  as_account cp "$work/program" "$program"

  as_account rm "$folder/.htaccess"
  curl -sf "$url" | cmp -s - "$program" || fail "without .htaccess the server does not send the program"
  echo "== no .htaccess: the server sends the program itself," \
    "$(curl -sI "$url" | grep -i '^content-type:' | tr -d '\r' || echo with no Content-Type)"
  as_account cp "$work/htaccess" "$folder/.htaccess"
  await_status 200 "$url" -u owner:secret
}

check_hosting() {
  need_root hosting
  # The host's packages, and the release the site owner downloads.
  scripts/install_deps.sh --build apache2 apache2-suexec-pristine
  scripts/release.sh > /dev/null
  prepare_work apache2
  in_namespace hosting
  echo "readme: the shared-hosting commands work as the README shows them"
}

if [ "${1:-}" = --inside ]; then
  "inside_$2" "$3"
  exit 0
fi
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(snippets apache servers hosting)
for step in "${steps[@]}"; do
  case $step in
    snippets) check_snippets ;;
    apache) check_apache ;;
    servers) check_servers ;;
    hosting) check_hosting ;;
    *)
      echo "usage: scripts/readme_check.sh [snippets] [apache] [servers] [hosting]" >&2
      exit 2
      ;;
  esac
done

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
# The last three need root. They start the servers from the README's blocks as they stand,
# through e2e/servers.sh (the harness of the browser test too), in private namespaces, so the
# machine's own servers and their files stay as they are. Each takes a few seconds once the
# build is there.
# With no argument, all four.
set -euo pipefail
cd "$(dirname "$0")/.."
source e2e/servers.sh

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

works=()
prepare() {
  servers_prepare "$@"
  works+=("$work")
  trap 'rm -rf "${works[@]}"' EXIT
}

need_root() {
  [ "$(id -u)" -eq 0 ] || fail "readme_check.sh $1: run as root"
}

check_apache() {
  need_root apache
  servers_install build apache
  prepare apache2
  # The default destination, for the README's sentence about it.
  cmake -S . -B "$work/build-default" -G Ninja -DCONVERT_BUILD_TESTS=OFF > /dev/null
  grep -qx 'CGI_BIN_DIR:PATH=/usr/local/lib/cgi-bin' "$work/build-default/CMakeCache.txt" ||
    fail "cmake --install no longer defaults to /usr/local/lib/cgi-bin"
  servers_enter "$PWD/scripts/readme_check.sh" --inside apache
  echo "readme: the Debian Apache walk works as the README shows it"
}

check_servers() {
  need_root servers
  servers_install build apache nginx lighttpd
  prepare apache2 nginx lighttpd
  servers_enter "$PWD/scripts/readme_check.sh" --inside servers
  echo "readme: the prefork Apache, nginx and lighttpd commands work as the README shows them"
}

check_hosting() {
  need_root hosting
  # The host's packages, and the release the site owner downloads.
  scripts/install_deps.sh --build apache2 apache2-suexec-pristine
  servers_install build
  scripts/release.sh > /dev/null
  prepare apache2
  servers_enter "$PWD/scripts/readme_check.sh" --inside hosting
  echo "readme: the shared-hosting commands work as the README shows them"
}

# --- in the private namespaces ---

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
  local url=http://127.0.0.1:8080/cgi-bin/convert.cgi
  start_apache
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
  local server
  for server in prefork nginx lighttpd; do
    echo "== $server"
    "start_$server"
    rm -rf /var/www/kv2
    cp -a examples/kv2 /var/www/
    chown -R www-data: /var/www/kv2
    expect_conversion http://127.0.0.1:8080/cgi-bin/convert.cgi
    servers_stop
  done
}

inside_hosting() {
  local account=siteowner home=/home/siteowner script page id
  start_hosting
  id=$(id -u "$account")
  local url=http://127.0.0.1:8080/~$account/cgi-bin/convert.cgi
  local live=http://127.0.0.1:8080/~$account/trades/
  local sum
  sum=$(sed -n 's/^convert.cgi SHA-256: \([0-9a-f]\{64\}\)$/\1/p' "$home"/download/convert.cgi-*/UPLOAD.txt)
  [ -n "$sum" ] || fail "UPLOAD.txt gives no SHA-256 of convert.cgi"
  run_recipe_as "$account" "$home" hosting-sha256 | grep -q "^$sum " ||
    fail "the uploaded convert.cgi has not the SHA-256 of UPLOAD.txt"
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

if [ "${1:-}" = --inside ]; then
  work=$SERVERS_WORK
  "inside_$2"
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

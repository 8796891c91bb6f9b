#!/bin/bash
# Checks that README.md shows what is tested.
#   snippets  each server configuration block of the README (the fenced block after a line
#             "<!-- e2e/servers/FILE -->") is byte for byte that file, and every file under
#             e2e/servers/ is shown.
#   apache    runs the README's commands for Debian's Apache as they stand (as root), in a
#             private mount, network and pid namespace: /etc/apache2 and /var/lib/apache2 are
#             copies of the machine's, and /usr/lib/cgi-bin, /var/www, Apache's log folder, /run and HOME are scratch
#             folders, so the machine's own Apache and its files stay as they are. It converts
#             examples/ through that server with curl and checks the password, the removal and
#             the restore. About half a minute once the build is there.
# With no argument, both.
set -euo pipefail
cd "$(dirname "$0")/.."

# Prints the fenced block that follows the line "<!-- NAME -->" in README.md.
block() {
  awk -v marker="<!-- $1 -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' README.md
}

# Prints the commands of a recipe block; fails when the README has no such block.
recipe() {
  local text
  text=$(block "readme_check: $1")
  if [ -z "$text" ]; then
    echo "README.md has no block after <!-- readme_check: $1 -->" >&2
    return 1
  fi
  printf '%s\n' "$text"
}

check_snippets() {
  local status=0 shown=0 file
  for file in $(sed -n 's/^<!-- \(e2e\/servers\/[^ ]*\) -->$/\1/p' README.md); do
    shown=$((shown + 1))
    if [ ! -f "$file" ]; then
      echo "README.md shows $file, which does not exist" >&2
      status=1
    elif ! diff -u --label "$file" --label "README.md" "$file" <(block "$file") >&2; then
      status=1
    fi
  done
  for file in e2e/servers/*; do
    grep -qxF "<!-- $file -->" README.md || {
      echo "README.md does not show $file" >&2
      status=1
    }
  done
  [ "$status" -eq 0 ] && echo "readme: $shown server snippets are those of e2e/servers/"
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

check_apache() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "readme_check.sh apache: run as root" >&2
    return 1
  fi
  local tool
  for tool in curl iproute2; do
    installed "$tool" || DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$tool"
  done
  install_from_readme build apache

  work=$(mktemp -d /tmp/convert-readme-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  cp -a /etc/apache2 "$work/etc-apache2"
  cp -a /var/lib/apache2 "$work/var-lib-apache2" # where a2enmod notes what the admin enabled
  # The copy listens on 127.0.0.1 of its own network namespace.
  sed -i 's/^Listen 80$/Listen 127.0.0.1:8080/' "$work/etc-apache2/ports.conf"
  sed -i 's/<VirtualHost \*:80>/<VirtualHost *:8080>/' \
    "$work/etc-apache2/sites-available/000-default.conf"
  mkdir -p "$work/cgi-bin" "$work/log" "$work/www/html" "$work/home"
  cp -a examples/tn3 examples/kv2 "$work/www/"

  # The default destination, for the README's sentence about it.
  cmake -S . -B "$work/build-default" -G Ninja -DCONVERT_BUILD_TESTS=OFF > /dev/null
  grep -qx 'CGI_BIN_DIR:PATH=/usr/local/lib/cgi-bin' "$work/build-default/CMakeCache.txt" || {
    echo "readme: cmake --install no longer defaults to /usr/local/lib/cgi-bin" >&2
    return 1
  }

  # setsid: no terminal, so htpasswd reads the password from its standard input.
  setsid --wait unshare --mount --net --pid --fork --mount-proc \
    "$PWD/scripts/readme_check.sh" --inside "$work"
  echo "readme: the Debian Apache commands work as the README shows them"
}

# Runs a recipe block without its apt-get lines (those ran outside), echoing each command.
run_recipe() {
  echo "== README: $1"
  local commands
  commands=$(recipe "$1" | grep -v '^apt-get ')
  bash -euxo pipefail -c "$commands"
}

fail() {
  echo "readme: $*" >&2
  exit 1
}

# In the private namespaces: the machine as the README's reader has it.
inside() {
  local work=$1
  ip link set lo up
  mount --bind "$work/etc-apache2" /etc/apache2
  mount --bind "$work/var-lib-apache2" /var/lib/apache2
  mount --bind "$work/cgi-bin" /usr/lib/cgi-bin
  mount --bind "$work/log" /var/log/apache2
  mount --bind "$work/www" /var/www
  mount -t tmpfs tmpfs /run
  mkdir /run/lock
  export HOME="$work/home"
  pid_file=/run/apache2/apache2.pid
  # Apache removes its pid file as it ends; the namespace ends whatever is left.
  trap '[ -f "$pid_file" ] && kill -TERM "$(cat "$pid_file")"
        for _ in $(seq 50); do [ -f "$pid_file" ] || break; sleep 0.1; done' EXIT

  # Installing the package starts Apache as the package configures it.
  apache2ctl start
  run_recipe build
  run_recipe apache
  printf 'secret\nsecret\n' | run_recipe protect
  run_recipe install

  local url=http://127.0.0.1:8080/cgi-bin/convert.cgi page
  [ "$(curl -s -o /dev/null -w '%{http_code}' "$url")" = 401 ] || fail "no password: not refused"
  [ "$(curl -s -o /dev/null -w '%{http_code}' -u owner:wrong "$url")" = 401 ] ||
    fail "a wrong password: not refused"
  curl -sf -u owner:secret "$url" | grep -q 'name="tolvane3"' || fail "no form"
  local index=/var/www/kv2/d/t/index size_before
  size_before=$(stat -c %s "$index")
  page=$(curl -sf -u owner:secret --data-urlencode tolvane3=/var/www/tn3/ \
    --data-urlencode kavrelv2=/var/www/kv2/ --data submit=submit "$url")
  [ "$(grep -o 'added [a-z]*\|skipping [a-z]*' <<< "$page" | tr '\n' ' ')" = \
    "added sunnyhills skipping bluebay added greenfield added redrock " ] ||
    fail "conversion page: $page"
  [ "$(stat -c %s "$index")" -eq $((size_before + 3 * 996)) ] || fail "index did not grow"
  [ "$(find /var/www/kv2/d/h -name '*.his' -newer "$HOME/kv2-before-convert.tar.gz" | wc -l)" \
    -eq 3 ] || fail "not three new history files"

  run_recipe remove
  [ "$(curl -s -o /dev/null -w '%{http_code}' -u owner:secret "$url")" = 404 ] ||
    fail "the program is still served"
  [ ! -e /etc/apache2/conf-enabled/convert-auth.conf ] || fail "the protection is still enabled"

  run_recipe restore
  diff -r examples/kv2 /var/www/kv2 || fail "the restored target differs from the original"
}

if [ "${1:-}" = --inside ]; then
  inside "$2"
  exit 0
fi
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(snippets apache)
for step in "${steps[@]}"; do
  case $step in
    snippets) check_snippets ;;
    apache) check_apache ;;
    *)
      echo "usage: scripts/readme_check.sh [snippets] [apache]" >&2
      exit 2
      ;;
  esac
done

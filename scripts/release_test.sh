#!/bin/bash
# Proves the release (scripts/release.sh, which this runs first): SHA256SUMS matches, and each
# archive of dist/ is named after the version (the project's, then the commit) and holds
# UPLOAD.txt, which names that version and the size and SHA-256 of its convert.cgi, and a
# convert.cgi that is static (no program interpreter, no dynamic section) and stripped (no
# symbol table), which, alone in an otherwise empty chroot (no /proc, /dev, /etc or /tmp) and
# run as nobody, converts examples/ to exactly the page and target files, modes and owners
# included, that the normal build (build/convert.cgi, built when missing) gives in a chroot
# that holds it and its shared libraries. The aarch64 program runs under qemu-user-static,
# copied into its chroot. Needs root (chroot). The aarch64 archive is required when the cross
# compiler is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "release_test.sh: run as root (chroot)" >&2
  exit 1
fi
# build/ is the dev preset's, configured with Ninja; one that a plain "cmake -B build" made with
# another generator would stop the preset at CMake's generator clash, so say what to do first.
generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' build/CMakeCache.txt 2> /dev/null) || true
if [ -n "$generator" ] && [ "$generator" != Ninja ]; then
  echo "release_test.sh: build/ was configured with $generator, but the dev preset builds" \
    "there with Ninja: move build/ aside (or remove it) and run again" >&2
  exit 1
fi
scripts/release.sh > /dev/null
[ -f build/build.ninja ] || cmake --preset dev > /dev/null
cmake --build --preset dev --target convert_cgi > /dev/null

work=$(mktemp -d /tmp/convert-release-XXXXXX)
trap 'rm -rf "$work"' EXIT
nobody=65534

fail() {
  echo "release test: $*" >&2
  exit 1
}

# Makes the chroot ROOT: the program as /cgi-bin/convert.cgi, copies of examples/ as
# /site/tn3/ and /site/kv2/, the target given to nobody.
make_root() {
  local root=$1 program=$2
  mkdir -p "$root/cgi-bin" "$root/site"
  chmod 755 "$root" "$root/cgi-bin" "$root/site"
  install -m 755 "$program" "$root/cgi-bin/convert.cgi"
  cp -a examples/tn3 examples/kv2 "$root/site/"
  chown -R "$nobody:$nobody" "$root/site/kv2"
}

# Posts the form for /site/tn3/ into /site/kv2/ to /cgi-bin/convert.cgi in the chroot ROOT,
# as nobody, through LAUNCHER... (the emulator) if given; the page goes to ROOT.page.
convert_in() {
  local root=$1 body="tolvane3=/site/tn3/&kavrelv2=/site/kv2/&submit=submit"
  shift
  printf '%s' "$body" | env -i CONTENT_LENGTH=${#body} SCRIPT_FILENAME=/cgi-bin/convert.cgi \
    REMOTE_ADDR=127.0.0.1 /usr/sbin/chroot --userspec=$nobody:$nobody "$root" "$@" /cgi-bin/convert.cgi \
    > "$root.page"
}

# Every file and folder under ROOT/site with its mode, owner and size.
listing() { (cd "$1/site" && find . -printf '%p %M %U:%G %s\n' | sort); }

# The reference: the normal build beside the libraries it loads.
reference=$work/normal
make_root "$reference" build/convert.cgi
for library in $(ldd build/convert.cgi | grep -o '/[^ ]*'); do
  cp -L --parents "$library" "$reference/"
done
convert_in "$reference"
[ "$(grep -o 'added [a-z]*\|skipping [a-z]*' "$reference.page" | tr '\n' ' ')" = \
  "added sunnyhills skipping bluebay added greenfield added redrock " ] ||
  fail "the normal build did not convert the examples: $(cat "$reference.page")"

(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS does not match"
archives=(dist/*.tar.gz)
wanted=(x86_64)
command -v aarch64-linux-gnu-g++ > /dev/null && wanted+=(aarch64)
for arch in "${wanted[@]}"; do
  [ -f "$(echo dist/convert.cgi-*-linux-"$arch".tar.gz)" ] || fail "no linux-$arch archive in dist/"
done

# The version: the project's, then the commit the release was built from.
number=$(sed -n 's/^project(convert VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
version=$number-$(git rev-parse --short=7 HEAD)
git diff-index --quiet HEAD -- || version=$version-dirty
for archive in "${archives[@]}"; do
  name=$(basename "$archive" .tar.gz)
  arch=${name##*-linux-}
  [ "$name" = "convert.cgi-$version-linux-$arch" ] || fail "$archive is not named after $version"
  [ "$(tar -tzvf "$archive" | awk '{ print $1, $6 }')" = "drwxr-xr-x $name/
-rw-r--r-- $name/UPLOAD.txt
-rwxr-xr-x $name/convert-trades
-rwxr-xr-x $name/convert.cgi" ] ||
    fail "$archive does not hold just UPLOAD.txt, convert-trades and convert.cgi"
  tar -xzf "$archive" -C "$work"
  program=$work/$name/convert.cgi
  upload=$work/$name/UPLOAD.txt
  grep -qx "convert.cgi, release $version for linux-$arch" "$upload" || fail "$name: UPLOAD.txt names no version"
  grep -qx "convert.cgi size: $(stat -c %s "$program") bytes" "$upload" ||
    fail "$name: UPLOAD.txt gives another size of convert.cgi"
  grep -qx "convert.cgi SHA-256: $(sha256sum < "$program" | cut -d' ' -f1)" "$upload" ||
    fail "$name: UPLOAD.txt gives another SHA-256 of convert.cgi"
  ! grep -q @ "$upload" || fail "$name: UPLOAD.txt keeps a placeholder: $(grep @ "$upload")"
  ! readelf -l "$program" | grep -q INTERP || fail "$name: convert.cgi asks for a program interpreter"
  readelf -d "$program" | grep -q 'no dynamic section' || fail "$name: convert.cgi is not static"
  ! readelf -S "$program" | grep -q '\.symtab' || fail "$name: convert.cgi is not stripped"
  trades=$work/$name/convert-trades
  grep -qx "convert-trades SHA-256: $(sha256sum < "$trades" | cut -d' ' -f1)" "$upload" ||
    fail "$name: UPLOAD.txt gives another SHA-256 of convert-trades"
  ! readelf -l "$trades" | grep -q INTERP || fail "$name: convert-trades is not static"
  ! readelf -S "$trades" | grep -q '\.symtab' || fail "$name: convert-trades is not stripped"
  launcher=()
  root=$work/root-$arch
  make_root "$root" "$program"
  if [ "$arch" != "$(uname -m)" ]; then
    emulator=/usr/bin/qemu-$arch-static
    [ -x "$emulator" ] || fail "$name: no $emulator to run it with"
    install -m 755 "$emulator" "$root/qemu"
    launcher=(/qemu)
  fi
  install -m 755 "$trades" "$root/convert-trades"
  [ "$(/usr/sbin/chroot --userspec=$nobody:$nobody "$root" "${launcher[@]}" /convert-trades \
    --version)" = "convert-trades $version" ] || fail "$name: convert-trades gives no version"
  rm "$root/convert-trades"
  convert_in "$root" "${launcher[@]}"
  cmp "$reference.page" "$root.page" || fail "$name: the page differs from the normal build's"
  diff -r "$reference/site" "$root/site" || fail "$name: the files differ from the normal build's"
  diff <(listing "$reference") <(listing "$root") ||
    fail "$name: modes, owners or sizes differ from the normal build's"
  echo "release: $name ($(stat -c %s "$archive") bytes, convert.cgi $(stat -c %s "$program")" \
    "bytes) converts the examples alone in an empty chroot as the normal build does"
done

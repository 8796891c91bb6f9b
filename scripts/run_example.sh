#!/bin/bash
# Builds convert.cgi and converts the bundled example installations: examples/tn3/ into a
# scratch copy of examples/kv2/ (examples/ itself is never written). Prints the page the
# program sends to the browser, then what the conversion changed in the target.
# Needs only a compiler, CMake 3.21 or later (for the presets) and Ninja (installed as root when
# missing); the build in build-example/ (the preset "example") leaves the tests out, so
# GoogleTest is not needed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh --build
# An older CMake takes "--preset example" for a source directory named "example".
version=$(cmake --version | sed -n '1s/^cmake version //p')
if ! printf '3.21\n%s\n' "$version" | sort -V -C; then
  echo "CMake $version has no presets (3.21 or later): build without them as CONTRIBUTING.md" \
    "shows, cmake -S . -B build -G Ninja && cmake --build build" \
    "(-DCONVERT_BUILD_TESTS=OFF without GoogleTest)" >&2
  exit 1
fi
cmake --preset example > /dev/null
cmake --build --preset example --target convert_cgi > /dev/null

scratch=$(mktemp -d /tmp/convert_example_XXXXXX)
cp -a examples/tn3 examples/kv2 "$scratch/"
source_dir="$scratch/tn3/"
target_dir="$scratch/kv2/"

listing() { (cd "$target_dir" && find . -type f -printf '%p %s bytes, mode %m\n' | sort); }
listing > "$scratch/before.txt"

body="tolvane3=${source_dir}&kavrelv2=${target_dir}&submit=submit"
echo "=== page sent to the browser ==="
printf '%s' "$body" | env -i CONTENT_LENGTH=${#body} SCRIPT_FILENAME="$PWD/build-example/convert.cgi" \
  REMOTE_ADDR=127.0.0.1 TZ=UTC ./build-example/convert.cgi
echo
echo
echo "=== target installation $target_dir: what changed ==="
listing > "$scratch/after.txt"
diff "$scratch/before.txt" "$scratch/after.txt" | sed -n 's/^< /before: /p; s/^> /after:  /p' || true
echo
echo "=== d/t/i ==="; cat "$target_dir/d/t/i"; echo
echo "=== d/tl.a1 ==="; cat "$target_dir/d/tl.a1"
echo "=== d/caps ==="; cat "$target_dir/d/caps"
echo "(scratch copy left in $scratch)"

#!/bin/bash
# Builds the release that a site owner uploads: convert.cgi and convert-trades (the same
# conversion from a shell) linked statically (they need no library of the server, so they run
# on any Linux of its architecture, old glibc or none) and stripped, packed with
# release/UPLOAD.txt (the upload steps) as
#   dist/convert.cgi-VERSION-linux-x86_64.tar.gz
#   dist/convert.cgi-VERSION-linux-aarch64.tar.gz   when Debian's g++-aarch64-linux-gnu is there
#   dist/SHA256SUMS
# VERSION is the project's version (project() in CMakeLists.txt) followed by the commit, e.g.
# 1.4.0-8911bda, and "-dirty" when tracked files differ from it; the program is built with it
# as CONVERT_VERSION, and UPLOAD.txt names it with the size and SHA-256 of convert.cgi. The builds
# are the presets release-ARCH, in build-release/ARCH/, never build/. As root it installs what is missing (a compiler,
# CMake, Ninja and the cross compiler); without root it builds what the machine allows.
# scripts/release_test.sh proves the archives.
set -euo pipefail
cd "$(dirname "$0")/.."

native=$(uname -m)
if [ "$(id -u)" -eq 0 ]; then
  scripts/install_deps.sh --build
  if [ "$native" = x86_64 ]; then
    scripts/install_deps.sh --build g++-aarch64-linux-gnu ||
      echo "release: g++-aarch64-linux-gnu did not install; no aarch64 release" >&2
  fi
fi

number=$(sed -n 's/^project(convert VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$number" ] || {
  echo "release: no version in the project() line of CMakeLists.txt" >&2
  exit 1
}
version=$number-$(git rev-parse --short=7 HEAD)
git diff-index --quiet HEAD -- || version=$version-dirty
# The archives' times: the last commit's, so that one commit gives the same bytes.
stamp=$(git log -1 --format=%ct)
rm -rf dist
mkdir -p dist

# build ARCH: a static, stripped convert.cgi in build-release/ARCH/ (the preset release-ARCH),
# packed.
build() {
  local arch=$1 dir=build-release/$1 strip_tool=strip name
  [ "$arch" = "$native" ] || strip_tool=$arch-linux-gnu-strip
  echo "== release: linux-$arch"
  cmake --preset "release-$arch" -DCONVERT_VERSION="$version" > /dev/null
  cmake --build --preset "release-$arch" --target convert_cgi convert_trades
  name=convert.cgi-$version-linux-$arch
  rm -rf "$dir/$name"
  mkdir "$dir/$name"
  for program in convert.cgi convert-trades; do
    "$strip_tool" -o "$dir/$name/$program" "$dir/$program"
    chmod 755 "$dir/$name/$program"
  done
  # The .htaccess lines are those that the browser test and the README use.
  sed 's/^/     /' e2e/servers/htaccess > "$dir/htaccess.txt"
  sed -e "/^@HTACCESS@$/{r $dir/htaccess.txt" -e 'd}' -e "s/@VERSION@/$version/g" \
    -e "s/@ARCH@/linux-$arch/g" -e "s/@SIZE@/$(stat -c %s "$dir/$name/convert.cgi")/g" \
    -e "s/@SHA256@/$(sha256sum < "$dir/$name/convert.cgi" | cut -d' ' -f1)/g" \
    -e "s/@TRADES_SIZE@/$(stat -c %s "$dir/$name/convert-trades")/g" \
    -e "s/@TRADES_SHA256@/$(sha256sum < "$dir/$name/convert-trades" | cut -d' ' -f1)/g" \
    release/UPLOAD.txt > "$dir/$name/UPLOAD.txt"
  chmod 644 "$dir/$name/UPLOAD.txt"
  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -C "$dir" -cf - "$name" |
    gzip -n -9 > "dist/$name.tar.gz"
}

build "$native"
if [ "$native" = x86_64 ] && command -v aarch64-linux-gnu-g++ > /dev/null; then
  build aarch64
fi
(cd dist && sha256sum -- *.tar.gz > SHA256SUMS)
echo "release: dist/"
(cd dist && ls -l -- *.tar.gz && cat SHA256SUMS)

#!/bin/bash
# Installs, from Debian's packages, what is missing and nothing else, so it is cheap to run
# before every build or test run:
#   scripts/install_deps.sh              the build and every test (the README's test command)
#   scripts/install_deps.sh --build      the build alone: a compiler, CMake and Ninja
#   scripts/install_deps.sh --build P..  the build and the packages P (a web server, chromium)
# Needs root when something is missing. Installing a web server must not start the system's
# own service: while apt runs, /usr/sbin/policy-rc.d refuses every start (one that was already
# there is left as it is).
set -euo pipefail
packages=(g++ cmake ninja-build)
if [ "${1:-}" = --build ]; then
  shift
else
  packages+=(libgtest-dev libbenchmark-dev clang libclang-rt-14-dev clang-format valgrind python3
    util-linux strace time g++-aarch64-linux-gnu qemu-user-static)
fi
packages+=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  trap 'rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# Written by scripts/install_deps.sh while it installs\nexit 101\n' > "$policy"
  chmod 755 "$policy"
fi
echo "== installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

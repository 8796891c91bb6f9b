#!/bin/bash
# Installs, from Debian's packages, the packages named on the command line and
# whatever the browser test scripts need to build and run: cmake, ninja, g++ and
# node with npm when those commands are missing. Installs nothing when all is
# there. Needs root when something is missing.
# Installing a web server must not start the system's own service: while apt
# runs, /usr/sbin/policy-rc.d refuses every start (a policy-rc.d that was
# already there is left as it was).
set -euo pipefail
packages=("$@")
command -v cmake > /dev/null || packages+=(cmake)
command -v ninja > /dev/null || packages+=(ninja-build)
command -v g++ > /dev/null || packages+=(g++)
command -v node > /dev/null || packages+=(nodejs)
command -v npm > /dev/null || packages+=(npm)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root)" >&2
  exit 1
fi
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  trap 'rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# Written by convert.cgi e2e/install_packages.sh while it installs\nexit 101\n' > "$policy"
  chmod 755 "$policy"
fi
echo "== installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs what building, running and testing Tarnwick on Debian 12 needs,
# and makes the machine's settings directory. Safe to run again: it installs
# only what is missing. Run as root.
#   setup.sh           what the program needs to build and run
#   setup.sh --tests   that, plus what the tests and benchmarks need
set -euo pipefail

want_tests=0
[[ "${1:-}" == "--tests" ]] && want_tests=1

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libegl-dev libxkbcommon-dev
  dbus dbus-x11 fonts-dejavu-core
  xvfb xauth xdotool x11-utils imagemagick
)
if [[ $want_tests -eq 1 ]]; then
  packages+=(libgtest-dev googletest libbenchmark-dev libx11-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The one settings directory of the machine (the Linux program's counterpart
# of the Windows directory): shared by every user of the machine.
install -d -m 0777 /var/lib/tarnwick
echo "setup: ready"

#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64.
#   build-windows.sh BUILD_DIR [CMAKE_ARGS...]
# The .exe files land in BUILD_DIR; run them under Wine (scripts/wine-env.sh)
# or copy tarnwick.exe to a Windows machine. scripts/package-windows.sh
# makes the installer and the .zip from such a build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build-windows.sh BUILD_DIR [CMAKE_ARGS...]}
shift
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" "$@" >/dev/null
cmake --build "$build" -j2

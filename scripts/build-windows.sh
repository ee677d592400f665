#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64.
#   [TARNWICK_WIN_ARCH=i686|x86_64] build-windows.sh BUILD_DIR [CMAKE_ARGS...]
# TARNWICK_WIN_ARCH picks the 32-bit program (the product) or the x86-64
# build; unset, the one this machine can run under Wine (scripts/win-arch.sh).
# The .exe files land in BUILD_DIR; run them under Wine (scripts/wine-env.sh)
# or copy tarnwick.exe to a Windows machine. scripts/package-windows.sh
# makes the installer and the .zip from such a build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build-windows.sh BUILD_DIR [CMAKE_ARGS...]}
shift
# shellcheck source=win-arch.sh
source "$root/scripts/win-arch.sh"
# A build directory keeps the toolchain it was first configured with.
if [[ -f "$build/CMakeCache.txt" ]]; then
  built=$(sed -n 's/^TARNWICK_WIN_ARCH:INTERNAL=//p' "$build/CMakeCache.txt")
  if [[ -n "$built" && "$built" != "$TARNWICK_WIN_ARCH" ]]; then
    echo "build-windows: $build holds the $built build; starting it afresh for $TARNWICK_WIN_ARCH"
    rm -rf "$build"
  fi
fi
echo "build-windows: the $TARNWICK_WIN_ARCH program ($TARNWICK_WIN_ARCH_WHY)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$TARNWICK_WIN_ARCH.cmake" "$@" >/dev/null
# TARNWICK_BUILD_TARGETS, when set, limits the build to those targets.
# shellcheck disable=SC2086
cmake --build "$build" -j2 ${TARNWICK_BUILD_TARGETS:+--target $TARNWICK_BUILD_TARGETS}

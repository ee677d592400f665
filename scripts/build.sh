#!/usr/bin/env bash
# Configures and builds Tarnwick. Usage: build.sh BUILD_DIR [CMAKE_ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build.sh BUILD_DIR [CMAKE_ARGS...]}
shift
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

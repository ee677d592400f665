#!/usr/bin/env bash
# Runs every test, then the benchmarks. On a fresh Debian 12 machine, as root:
#   bash scripts/test.sh
# It installs what is missing, builds into build-test/ (with a settings
# directory of its own, so the machine's settings are never touched), runs
# the whole CTest suite and prints each benchmark's figure beside its goal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" --tests

build="$root/build-test"
settings_dir="$build/machine/var/lib/tarnwick"
bash "$root/scripts/build.sh" "$build" -DTARNWICK_SETTINGS_DIR="$settings_dir"
mkdir -p "$settings_dir"

rc=0
(cd "$build" && ctest --output-on-failure -j2 --timeout 300) || rc=$?

echo
echo "== Benchmarks (figure and goal) =="
bash "$root/scripts/bench.sh" "$build" || echo "bench: a benchmark could not run"
exit $rc

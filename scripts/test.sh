#!/usr/bin/env bash
# Runs every test, then the benchmarks. On a fresh Debian 12 machine, as root:
#   bash scripts/test.sh
# It installs what is missing, builds into build-test/ (with a settings
# directory of its own, so the machine's settings are never touched), runs
# the whole CTest suite, cross-builds the Windows program into
# build-test-win/ and runs its tests under Wine (in a Wine prefix of that
# build's own), and prints each benchmark's figure beside its goal.
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
echo "== The Windows program (MinGW-w64; tests under Wine) =="
win_build="$root/build-test-win"
if bash "$root/scripts/build-windows.sh" "$win_build"; then
  (cd "$win_build" && ctest --output-on-failure -j2 --timeout 300) || rc=$?
else
  echo "test: the Windows build failed"
  rc=1
fi

echo
echo "== Benchmarks (figure and goal) =="
bash "$root/scripts/bench.sh" "$build" || echo "bench: a benchmark could not run"
if [[ -x "$win_build/bench/bench_win_timers.exe" ]]; then
  echo "-- bench_win_timers.exe (under Wine)"
  "$root/tests/support/with-session.sh" --display "$root/tests/support/wine-run.sh" "$win_build/wineprefix" \
    "$win_build/bench/bench_win_timers.exe" || echo "bench: bench_win_timers.exe could not run"
fi
exit $rc

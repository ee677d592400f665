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

# The real-time beacon benchmark takes ten minutes of wall-clock time; it
# runs beside the tests and reports at the end.
drift_log=$(mktemp)
bash "$root/bench/program_bench.sh" "$build" drift 10 >"$drift_log" 2>&1 &
drift_pid=$!

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
echo "-- the Linux program against the stand-in node"
bash "$root/bench/program_bench.sh" "$build" dtmf 2>&1 | grep -E '^(DTMF|program_bench)' || true
for ms in 50 100 500 2000; do
  bash "$root/bench/program_bench.sh" "$build" break "$ms" >"$drift_log.break$ms" 2>&1 &
done
bash "$root/bench/program_bench.sh" "$build" idle 2>&1 | grep -E '^(idle|program_bench)' || true
wait $(jobs -p | grep -v "^$drift_pid$") 2>/dev/null || true
grep -h -E '^break of' "$drift_log".break* || echo "bench: the break benchmark could not run"
wait "$drift_pid" || true
grep -E '^beacon drift' "$drift_log" || echo "bench: the beacon drift benchmark could not run"
rm -f "$drift_log" "$drift_log".break*
if [[ -x "$win_build/bench/bench_win_timers.exe" ]]; then
  echo "-- bench_win_timers.exe (under Wine)"
  "$root/tests/support/with-session.sh" --display "$root/tests/support/wine-run.sh" "$win_build/wineprefix" \
    "$win_build/bench/bench_win_timers.exe" || echo "bench: bench_win_timers.exe could not run"
fi
if [[ -x "$win_build/bench/bench_com_roundtrip.exe" ]]; then
  echo "-- bench_com_roundtrip.exe (under Wine)"
  "$root/tests/support/with-session.sh" --display "$root/tests/support/wine-run.sh" "$win_build/wineprefix" \
    "$win_build/bench/bench_com_roundtrip.exe" "Z:$win_build/tarnwick-nodesim.exe" ||
    echo "bench: bench_com_roundtrip.exe could not run"
fi
if [[ -x "$win_build/bench/bench_dshow_end_to_unkey.exe" ]]; then
  # The system's own part (node in the process), then with the stand-in over COM.
  echo "-- bench_dshow_end_to_unkey.exe (under Wine)"
  for node in "" "Z:$win_build/tarnwick-nodesim.exe"; do
    "$root/tests/support/with-session.sh" --display --pulse "$root/tests/support/wine-run.sh" "$win_build/wineprefix" \
      "$win_build/bench/bench_dshow_end_to_unkey.exe" ${node:+"$node"} 2>/dev/null | grep -E '^end of audio' ||
      echo "bench: bench_dshow_end_to_unkey.exe could not run"
  done
fi

# The black-box scenarios side by side: the Linux program and the Windows
# program under Wine. CTest has judged them already; this only prints.
echo
echo "== Parity of the two programs =="
bash "$root/scripts/parity.sh" "$build" "$win_build" || echo "parity: the comparison could not run"
exit $rc

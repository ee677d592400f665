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
win_build="$root/build-test-win"
win_built=1
bash "$root/scripts/build-windows.sh" "$win_build" || { echo "test: the Windows build failed"; win_built=0; rc=1; }

(cd "$build" && ctest --output-on-failure -j2 --timeout 300) || rc=$?

echo
echo "== The Windows program (MinGW-w64; tests under Wine) =="
if [[ $win_built -eq 1 ]]; then
  (cd "$win_build" && ctest --output-on-failure -j2 --timeout 300) || rc=$?
else
  rc=1
fi

echo
echo "== Benchmarks (figure and goal) =="
# The real-time beacon benchmarks take ten minutes of wall-clock time each;
# they run beside the other benchmarks (each program in a session of its
# own, after the tests, whose load would delay the beacons' ticks) and
# report at the end.
drift_log=$(mktemp)
bash "$root/bench/program_bench.sh" linux "$build" drift 10 >"$drift_log" 2>&1 &
drift_pids=$!
if [[ $win_built -eq 1 ]]; then
  bash "$root/bench/program_bench.sh" windows "$win_build" drift 10 >"$drift_log.win" 2>&1 &
  drift_pids="$drift_pids $!"
fi
bash "$root/scripts/bench.sh" "$build" || echo "bench: a benchmark could not run"
# Each program against the stand-in node: the DTMF latency, the four break
# lengths (each in a session of its own; the Linux ones at once, the Windows
# ones one after another, as each Wine adds its own server and two of them
# beside the drift run delay the break's end by a few ms), then the idle cost.
programs=(linux)
[[ $win_built -eq 1 ]] && programs+=(windows)
for program in "${programs[@]}"; do
  dir=$build
  [[ $program == windows ]] && dir=$win_build
  echo "-- the $program program against the stand-in node"
  bash "$root/bench/program_bench.sh" "$program" "$dir" dtmf 2>&1 | grep -E '^(DTMF|FAIL|program_bench)' || true
  break_pids=()
  for ms in 50 100 500 2000; do
    bash "$root/bench/program_bench.sh" "$program" "$dir" break "$ms" >"$drift_log.break$ms" 2>&1 &
    break_pids+=($!)
    if [[ $program == windows ]]; then
      wait "${break_pids[@]}" 2>/dev/null || true
      break_pids=()
    fi
  done
  [[ ${#break_pids[@]} -eq 0 ]] || wait "${break_pids[@]}" 2>/dev/null || true
  grep -h -E '^(break of|FAIL)' "$drift_log".break* || echo "bench: the break benchmark could not run"
  rm -f "$drift_log".break*
  bash "$root/bench/program_bench.sh" "$program" "$dir" idle 2>&1 | grep -E '^(idle|FAIL|program_bench)' || true
done
# shellcheck disable=SC2086
wait $drift_pids 2>/dev/null || true
grep -h -E '^(beacon drift|first transmission|FAIL)' "$drift_log" "$drift_log.win" 2>/dev/null ||
  echo "bench: the beacon drift benchmark could not run"
rm -f "$drift_log" "$drift_log".*
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
      "$win_build/bench/bench_dshow_end_to_unkey.exe" ${node:+"$node"} 2>/dev/null | grep -E '^(end of audio|PTT label)' ||
      echo "bench: bench_dshow_end_to_unkey.exe could not run"
  done
fi

# The black-box scenarios side by side: the Linux program and the Windows
# program under Wine. CTest has judged them already; this only prints.
echo
echo "== Parity of the two programs =="
bash "$root/scripts/parity.sh" "$build" "$win_build" || echo "parity: the comparison could not run"
exit $rc

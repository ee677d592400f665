#!/usr/bin/env bash
# Builds the fuzz configuration (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each fuzz target for a bounded time.
# Prints the executions each target ran; fails on any crash, sanitizer
# report, leak or hang, naming the input that caused it.
#   run.sh [BUILD_DIR] [SECONDS]    defaults: build-fuzz beside the source, 60 s a target (0: build only)
# The corpus each target grows is kept in BUILD_DIR/corpus/TARGET and used
# again by the next run; the committed seeds are tests/fuzz/corpus/TARGET.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$root/build-fuzz}")
seconds=${2:-60}
targets=(settings_fuzz convert_fuzz)

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z $compiler ]]; then
  echo "fuzz: clang is missing (scripts/setup.sh --tests installs it)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
  -DTARNWICK_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
# 0 seconds: only build (the test command runs the targets later).
[[ $seconds == 0 ]] && exit 0

# The settings target saves a file on every run: on tmpfs where there is one.
scratch=$(mktemp -d "$( [[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}" )/tarnwick-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Each target in a process of its own, side by side (one core each); the
# report prints in the targets' order. Returns 1 on a fault.
fuzz_target() {
  local target=$1 work name max_len status runs corpus found log
  work=$build/fuzz-run/$target
  rm -rf "$work"
  mkdir -p "$work/artifacts" "$build/corpus/$target"
  name=${target%_fuzz}
  case $target in
    settings_fuzz) max_len=4096 ;;
    *) max_len=512 ;;
  esac
  status=0
  # -jobs=1 runs the fuzzing in one child process, its output in fuzz-0.log.
  (cd "$work" && TARNWICK_FUZZ_TMP=$scratch "$build/tests/fuzz/$target" -jobs=1 -max_total_time="$seconds" \
    -timeout=10 -max_len="$max_len" -dict="$root/tests/fuzz/$name.dict" -use_value_profile=1 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$build/corpus/$target" "$root/tests/fuzz/corpus/$name" >"$work/parent.log" 2>&1) || status=$?
  log=$work/fuzz-0.log
  [[ -f $log ]] || log=$work/parent.log
  runs=$(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
  corpus=$(find "$build/corpus/$target" -type f | wc -l)
  found=$(find "$work/artifacts" -type f | head -1)
  if [[ $status -ne 0 || -n $found ]] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|deadly signal|SUMMARY: ' "$log"; then
    echo "fuzz: $target FAILED after ${runs:-?} executions (exit $status); input: ${found:-none saved}"
    grep -E -A40 'ERROR:|runtime error:|deadly signal|fuzz:' "$log" | head -80 || tail -40 "$log"
    return 1
  fi
  echo "fuzz: $target ${runs:-?} executions in ${seconds} s, no fault (corpus: $corpus inputs)"
}

pids=()
for target in "${targets[@]}"; do
  fuzz_target "$target" >"$scratch/$target.report" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  wait "${pids[$i]}" || status=1
  cat "$scratch/${targets[$i]}.report"
done
exit $status

#!/usr/bin/env bash
# The guardian's figures, for the Linux program or the Windows one under
# Wine, against the stand-in node in a session of their own:
#   - what the guardian costs while the program runs: its CPU and wake-ups
#     over 60 s (GB_IDLE_SECONDS) of an idle program (goal ~0: it blocks on
#     one read);
#   - kill -9 of the program while keyed to the guardian's SetPtt 0 in the
#     node's trace, N times (default 5): median and worst (goal <= 1000 ms).
#
#   guard_bench.sh linux|windows BUILD_DIR [N]
#
# It uses the build's settings directory (Linux) or Wine prefix (Windows),
# as the build's black-box scenarios do: not beside them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [[ -z "${BB_INSIDE:-}" ]]; then
  usage="usage: guard_bench.sh linux|windows BUILD_DIR [N]"
  platform=${1:?$usage}
  build=$(cd "${2:?$usage}" && pwd)
  export GB_RUNS=${3:-5}
  source "$here/lib.sh"
  bench_args "$platform" "$build"
  set -- "${bench_args[@]}"
fi
BB_SESSION="--display --bus --pulse"
source "$root/tests/blackbox/lib.sh"
label="$platform"
[[ "$platform" == windows ]] && label="windows under Wine"

# CPU clock ticks and context switches of a process so far: "ticks switches".
usage_of() {
  local ticks switches
  ticks=$(awk '{print $14 + $15}' "/proc/$1/stat")
  switches=$(cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {s += $2} END {print s + 0}')
  echo "$ticks $switches"
}

tone "$work/tone.wav" 60
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all
guard_pid=$(guard_pids)
[[ -n "$guard_pid" ]] || fail "no guardian runs beside the program"

idle=${GB_IDLE_SECONDS:-60}
read -r t0 c0 < <(usage_of "$guard_pid")
sleep "$idle"
read -r t1 c1 < <(usage_of "$guard_pid")
awk -v t=$((t1 - t0)) -v hz="$(getconf CLK_TCK)" -v c=$((c1 - c0)) -v l="$label" -v s="$idle" 'BEGIN {
  printf "guardian while the program idles (%s, %d s): %.3f %% of one core (%d ticks), %.2f wake-ups/s (goal ~0) %s\n",
    l, s, 100 * t / hz / s, t, c / s, (t == 0 && c <= s / 10 ? "PASS" : "MISS") }'

lats=""
for run in $(seq 1 "$GB_RUNS"); do
  if ((run > 1)); then
    mark=$(wc -l <"$trace")
    start_tarnwick
    win=$(wait_window '^Tarnwick ') || fail "no main window"
    wait_trace_after '^SetPtt 0$' "$mark" 10 >/dev/null || fail "no start-up unkey"
    sleep $((slow))
    guard_pid=$(guard_pids)
  fi
  mark=$(wc -l <"$trace")
  click_twips "$win" $((2400 + 427)) $((1200 + 127))  # "Play"
  read -r key_line _ < <(wait_trace_after '^SetPtt -1$' "$mark" 10) || fail "Play did not key"
  sleep 1
  pid=$(program_process)
  [[ -n "$pid" ]] || fail "the program's process was not found (run $run)"
  kill_ms=$(date +%s%3N)
  kill -9 "$pid"
  read -r _ unkey_ms < <(wait_trace_after '^SetPtt 0$' "$key_line" 30) || fail "the guardian never unkeyed (run $run)"
  lats="$lats $((unkey_ms - kill_ms))"
  wait_exit "$app_pid" 10 || true
  app_pid=""
  for _ in $(seq 1 100); do kill -0 "$guard_pid" 2>/dev/null || break; sleep 0.05; done
done
tr ' ' '\n' <<<"$lats" | grep . | sort -n | awk -v l="$label" '{ a[NR] = $1 } END {
  m = a[int((NR + 1) / 2)]; w = a[NR]
  printf "kill -9 while keyed to the guardian'"'"'s SetPtt 0 (%s): median %d ms, worst %d ms over %d kills (goal <= 1000 ms) %s\n",
    l, m, w, NR, (w <= 1000 ? "PASS" : "MISS") }'

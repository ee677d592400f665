#!/usr/bin/env bash
# Soak: the program runs against the stand-in node for MINUTES (default 30)
# as a station does, with a 1-minute beacon, a DTMF command every 10 s and
# the idle polling in between (the monitors, the schedule's node-in-use
# queries, the progress tick's idle unkey). It compares what the process
# holds after the first minute (the warm-up) with what it holds at the end:
#   - Linux: its resident memory, VmRSS (goal: grown by <= 256 KiB);
#   - Windows under Wine: its handle count and private bytes (committed
#     private memory) as Windows counts them, read inside the prefix by
#     bench_process_counters.exe (goal flat: no handle more, private bytes
#     grown by <= 256 KiB), with the VmRSS of its Wine process beside them.
# Each figure is the median of three readings a second apart, taken 5 s
# after a DTMF command, when nothing plays.
#
#   soak.sh linux|windows BUILD_DIR [MINUTES]
#
# SOAK_LOG=FILE also writes, 5 s after every command, the seconds since
# start, the transmissions so far, and the process's VmRSS, threads and
# RssAnon (under Wine what Windows counts as private bytes: RssAnon plus
# VmSwap), so that a step in the figures can be placed in time.
#
# It uses the build's settings directory (Linux) or Wine prefix (Windows),
# as the build's black-box scenarios do: not beside them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [[ -z "${BB_INSIDE:-}" ]]; then
  usage="usage: soak.sh linux|windows BUILD_DIR [MINUTES]"
  platform=${1:?$usage}
  build=$(cd "${2:?$usage}" && pwd)
  export SOAK_MINUTES=${3:-30} SOAK_BUILD=$build
  ((SOAK_MINUTES >= 2)) || { echo "soak.sh: at least 2 minutes" >&2; exit 2; }
  if [[ "$platform" == windows && ! -f "$build/bench/bench_process_counters.exe" ]]; then
    echo "soak.sh: build the target bench_process_counters first" >&2
    exit 2
  fi
  source "$here/lib.sh"
  bench_args "$platform" "$build"
  set -- "${bench_args[@]}"
fi
BB_SESSION="--display --bus --pulse"
source "$root/tests/blackbox/lib.sh"
label="$platform"
[[ "$platform" == windows ]] && label="windows under Wine"

# The Linux process that runs the program: the program itself, or under
# Wine the one of this prefix whose process name is tarnwick.exe.
program_pid() {
  local p
  if [[ "$platform" != windows ]]; then echo "$app_pid"; return; fi
  for p in $(pgrep -x 'tarnwick.exe'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "$p"; return; }
  done
}

# One reading: "rss_kib threads" (Linux) or "rss_kib threads handles
# private_kib" (Windows). Under Wine, private bytes are the Linux process's
# anonymous resident memory, and every thread holds a region of about 3 MiB
# of which about 1 MiB is touched: a thread more shows as a step there.
reading() {
  local rss threads counters
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  threads=$(ls "/proc/$pid/task" | wc -l)
  if [[ "$platform" != windows ]]; then echo "$rss $threads"; return; fi
  counters=$(wine "$SOAK_BUILD/bench/bench_process_counters.exe" tarnwick.exe 2>/dev/null | head -1) ||
    fail "bench_process_counters found no tarnwick.exe"
  awk -v r="$rss" -v t="$threads" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
                     printf "%s %s %s %d\n", r, t, v["handles"], v["private"] / 1024 }' <<<"$counters"
}
# The median of three readings a second apart, field by field.
settled() {
  local a b c
  a=$(reading); sleep 1; b=$(reading); sleep 1; c=$(reading)
  printf '%s\n%s\n%s\n' "$a" "$b" "$c" | awk '{ for (i = 1; i <= NF; i++) v[i, NR] = $i; n = NF }
    END { for (i = 1; i <= n; i++) { x = v[i, 1]; y = v[i, 2]; z = v[i, 3]
            m = (x <= y) ? ((y <= z) ? y : (x <= z ? z : x)) : ((x <= z) ? x : (y <= z ? z : y))
            printf "%s%s", m, (i < n ? " " : "\n") } }'
}

tone "$work/tone.wav" 1
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'BEACONPERIOD6=1' 'STOPCLOCK6=1' \
  'BEACONPERIOD7=0' 'DTMFInfo3=55'
start_all
started=$SECONDS
pid=$(program_pid)
[[ -n "$pid" ]] || fail "the program's process was not found"

# A DTMF command every 10 s; the readings 5 s after the one at each mark.
commands=0
command_at() {
  local at=$1
  while ((SECONDS - started < at)); do sleep 0.2; done
  nodesim_ctl dtmf 55
  commands=$((commands + 1))
}
for at in $(seq 10 10 60); do command_at "$at"; done
sleep 5
warm=$(settled)
[[ -n "${SOAK_LOG:-}" ]] && echo "seconds transmissions vmrss_kib threads rssanon_kib (warm: $warm)" >"$SOAK_LOG"
for at in $(seq 70 10 $((SOAK_MINUTES * 60))); do
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended after $((SECONDS - started)) s"
  command_at "$at"
  if [[ -n "${SOAK_LOG:-}" ]]; then
    while ((SECONDS - started < at + 5)); do sleep 0.2; done
    echo "$((SECONDS - started)) $(grep -c ' SetPtt -1$' "$trace" || true) $(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status") $(ls "/proc/$pid/task" | wc -l) $(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status")" >>"$SOAK_LOG"
  fi
done
sleep 5
end=$(settled)

keys=$(grep -c ' SetPtt -1$' "$trace" || true)
what="$label, $SOAK_MINUTES min: $commands DTMF commands, $keys transmissions"
# Every command and every minute's beacon went out.
((keys >= commands + SOAK_MINUTES - 1)) || echo "soak ($what): expected at least $((commands + SOAK_MINUTES - 1)) transmissions"
read -r rss0 threads0 handles0 private0 <<<"$warm"
read -r rss1 threads1 handles1 private1 <<<"$end"
echo "soak ($what): threads $threads0 after the first minute, $threads1 at the end"
if [[ "$platform" != windows ]]; then
  awk -v a="$rss0" -v b="$rss1" -v w="$what" 'BEGIN { d = b - a
    printf "soak (%s): VmRSS %d KiB after the first minute, %d KiB at the end: %+d KiB (goal <= 256 KiB) %s\n",
      w, a, b, d, (d <= 256 ? "PASS" : "MISS") }'
else
  awk -v h0="$handles0" -v h1="$handles1" -v p0="$private0" -v p1="$private1" -v r0="$rss0" -v r1="$rss1" -v w="$what" 'BEGIN {
    printf "soak (%s): handles %d after the first minute, %d at the end (goal flat) %s\n", w, h0, h1, (h1 <= h0 ? "PASS" : "MISS")
    d = p1 - p0
    printf "soak (%s): private bytes %d KiB after the first minute, %d KiB at the end: %+d KiB (goal flat, <= 256 KiB) %s\n",
      w, p0, p1, d, (d <= 256 ? "PASS" : "MISS")
    printf "soak (%s): VmRSS of its Wine process %d KiB, then %d KiB: %+d KiB\n", w, r0, r1, r1 - r0 }'
fi

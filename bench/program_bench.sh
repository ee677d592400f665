#!/usr/bin/env bash
# Benchmarks of the built Linux program against the stand-in node, each in
# a session of its own (bus, display, sound server). Figures come from the
# node's trace (milliseconds since the epoch) and from /proc.
#
#   program_bench.sh BUILD_DIR dtmf          DTMF event to SetPtt -1 (median <= 10 ms)
#   program_bench.sh BUILD_DIR break MS      break length for Text6 = MS (within +-3 ms)
#   program_bench.sh BUILD_DIR idle          idle cost over 60 s (<= 1 % of one core)
#   program_bench.sh BUILD_DIR drift MIN     1-minute beacons over MIN minutes (each within +-20 ms)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:?usage: program_bench.sh BUILD_DIR WHAT [ARG]}
what=${2:?}
arg=${3:-}

if [[ -z "${PB_INSIDE:-}" ]]; then
  export PB_INSIDE=1
  exec "$root/tests/support/with-session.sh" --bus --display --pulse bash "$0" "$@"
fi

settings_dir=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trace="$work/trace.log"
node_pid="" app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill -9 "$app_pid" 2>/dev/null || true
  [[ -n "$node_pid" ]] && kill "$node_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Each benchmark gets a settings directory of its own: several may run at
# once, and the program reads the directory it was built with, so it is
# started in a private mount of that directory when one can be made, and
# otherwise they take turns.
run_program() {
  mkdir -p "$settings_dir"
  printf '%b' "$1" >"$work/tarnwick.ini"
  "$build/tarnwick-nodesim" --headless --trace "$trace" &
  node_pid=$!
  for _ in $(seq 1 100); do "$build/tarnwick-nodesim" --ctl state >/dev/null 2>&1 && break; sleep 0.05; done
  if unshare --mount --propagation private true 2>/dev/null; then
    unshare --mount --propagation private bash -c \
      'mount --bind "$1" "$2" && exec "$3"' _ "$work" "$settings_dir" "$build/tarnwick" &
  else
    exec 9>"$settings_dir/.bench-lock"
    flock 9
    cp "$work/tarnwick.ini" "$settings_dir/tarnwick.ini"
    "$build/tarnwick" &
  fi
  app_pid=$!
  for _ in $(seq 1 100); do grep -q ' SetPtt 0$' "$trace" 2>/dev/null && break; sleep 0.05; done
}

ops() { sed -E 's/^[0-9]+ //' "$trace"; }

median() { sort -n | awk '{a[NR]=$1} END {if (NR == 0) print "nan"; else print a[int((NR + 1) / 2)]}'; }

case "$what" in
  dtmf)
    sox -n -r 48000 -c 1 "$work/tone.wav" synth 0.3 sine 1000 vol 0.5
    run_program "[SETTINGS]\nTEXT4=$work/tone.wav\nDTMFInfo3=55\n"
    for _ in $(seq 1 20); do
      "$build/tarnwick-nodesim" --ctl dtmf 55 >/dev/null
      sleep 0.6
    done
    lat=$(awk '/ event DTMFString "55"$/ {e = $1} / SetPtt -1$/ && e {print $1 - e; e = 0}' "$trace" | median)
    n=$(grep -c ' event DTMFString' "$trace")
    awk -v m="$lat" -v n="$n" 'BEGIN { printf "DTMF event to SetPtt -1: median %s ms over %d commands (goal <= 10 ms) %s\n", m, n, (m <= 10 ? "PASS" : "MISS") }'
    ;;
  break)
    ms=${arg:?break length}
    sox -n -r 48000 -c 1 "$work/long.wav" synth 75 sine 1000 vol 0.3
    run_program "[SETTINGS]\nTEXT4=$work/long.wav\nDTMFInfo3=9\nBEACONPERIOD8=1\nSTOPCLOCK8=1\nTEXT6=$ms\nCHECK2=0\n"
    "$build/tarnwick-nodesim" --ctl dtmf 9 >/dev/null
    for _ in $(seq 1 700); do
      awk '/ SetPtt -1$/ {k++} END {exit !(k >= 2)}' "$trace" && break
      sleep 0.1
    done
    got=$(awk '/ SetPtt -1$/ {k++; if (k == 2 && off) {print $1 - off; exit}} / SetPtt 0$/ && k == 1 {off = $1}' "$trace")
    awk -v g="${got:-nan}" -v b="$ms" 'BEGIN { d = g - b; printf "break of Text6 = %d: SetPtt 0 to SetPtt -1 %s ms (goal %d +-3 ms) %s\n", b, g, b, (d <= 3 && d >= -3 ? "PASS" : "MISS") }'
    ;;
  idle)
    run_program "[SETTINGS]\n"
    sleep 2
    read -r u0 s0 < <(awk '{print $14, $15}' "/proc/$app_pid/stat")
    c0=$(awk '/ctxt_switches/ {s += $2} END {print s}' "/proc/$app_pid/status")
    l0=$(wc -l <"$trace")
    sleep 60
    read -r u1 s1 < <(awk '{print $14, $15}' "/proc/$app_pid/stat")
    c1=$(awk '/ctxt_switches/ {s += $2} END {print s}' "/proc/$app_pid/status")
    l1=$(wc -l <"$trace")
    hz=$(getconf CLK_TCK)
    awk -v cpu=$(( (u1 + s1) - (u0 + s0) )) -v hz="$hz" -v c=$(( c1 - c0 )) -v l=$(( l1 - l0 )) 'BEGIN {
      p = 100 * cpu / hz / 60
      printf "idle cost (default settings, 60 s): %.2f %% of one core (goal <= 1 %%) %s; %.0f wake-ups/s; %.0f node calls/s\n", p, (p <= 1 ? "PASS" : "MISS"), c / 60, l / 60 }'
    ;;
  drift)
    minutes=${arg:-10}
    sox -n -r 48000 -c 1 "$work/tone.wav" synth 1 sine 1000 vol 0.3
    run_program "[SETTINGS]\nTEXT4=$work/tone.wav\nBEACONPERIOD6=1\nSTOPCLOCK6=1\nCHECK2=0\nBEACONPERIOD7=0\n"
    sleep $(( minutes * 60 + 5 ))
    awk -v n="$minutes" '/ SetPtt -1$/ { t[++k] = $1 }
      END {
        worst = 0
        for (i = 2; i <= k; i++) { d = t[i] - (t[1] + (i - 1) * 60000); if (d < 0) d = -d; if (d > worst) worst = d }
        printf "beacon drift (real time, %d min, 1-minute period): %d beacons, worst %d ms off start + k x 60 s (goal +-20 ms) %s\n", n, k, worst, (k >= n && worst <= 20 ? "PASS" : "MISS") }' "$trace"
    ;;
  *) echo "program_bench: unknown benchmark $what" >&2; exit 2 ;;
esac

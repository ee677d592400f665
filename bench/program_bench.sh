#!/usr/bin/env bash
# Benchmarks of a built program against the stand-in node, each in a
# session of its own (bus, display, sound server): the Linux program, or
# the Windows program under Wine. Figures come from the node's trace
# (milliseconds since the epoch) and from /proc.
#
#   program_bench.sh linux|windows BUILD_DIR dtmf        DTMF event to SetPtt -1 (median <= 10 ms)
#   program_bench.sh linux|windows BUILD_DIR break MS    break length for Text6 = MS (within +-3 ms)
#   program_bench.sh linux|windows BUILD_DIR idle        idle cost over 60 s (<= 1 % of one core)
#   program_bench.sh linux|windows BUILD_DIR drift MIN   1-minute beacons over MIN minutes (each within +-20 ms)
#   program_bench.sh linux|windows BUILD_DIR air FORMAT  $PB_PLAYS (5) "Play"s of a 2 s wav, mp3 or a 1 s mid, as
#                                                        the air check hears them (bench/air_check.sh runs all three)
#
# Several may run at once. The Linux program reads the settings directory
# it was built with, so each run mounts a private directory over it where
# that can be done (and otherwise they take turns); each Windows run gets a
# copy of the build's Wine prefix of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

if [[ -z "${BB_INSIDE:-}" ]]; then
  platform=${1:?usage: program_bench.sh linux|windows BUILD_DIR WHAT [ARG]}
  build=$(cd "${2:?}" && pwd)
  export PB_WHAT=${3:?} PB_ARG=${4:-}
  if [[ "$platform" == windows ]]; then
    # Wine of the build's own architecture, whatever this machine would pick.
    arch=$(sed -n 's/^TARNWICK_WIN_ARCH:INTERNAL=//p' "$build/CMakeCache.txt")
    [[ -n "$arch" ]] && export TARNWICK_WIN_ARCH=$arch
    # A prefix of this run's own, copied from the build's (made first if
    # need be), so that runs do not share a Wine server or settings file.
    (source "$root/scripts/wine-env.sh" "$build/wineprefix")
    place="$build/bench-prefix-$PB_WHAT$PB_ARG"
    rm -rf "$place" "$place.lock"
    cp -a "$build/wineprefix" "$place"
    export PB_CLEAN_PREFIX=$place
    set -- windows "$build/tarnwick.exe" "$build/tarnwick-nodesim.exe" "$place"
  else
    settings_dir=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$build/CMakeCache.txt")
    export PB_SETTINGS_DIR=$settings_dir
    set -- linux "$build/tarnwick" "$build/tarnwick-nodesim" "$(mktemp -d)"
  fi
fi
BB_SESSION="--display --bus --pulse"
source "$root/tests/blackbox/lib.sh"
what=$PB_WHAT arg=$PB_ARG
if [[ "$platform" == windows ]]; then
  trap 'bb_cleanup; rm -rf "$PB_CLEAN_PREFIX" "$PB_CLEAN_PREFIX.lock"' EXIT
else
  trap 'bb_cleanup; rm -rf "$bb_place"' EXIT
fi

# Linux: the private settings directory ($bb_place) mounted over the one the
# program was built with.
if [[ "$platform" == linux ]]; then
  start_tarnwick() {
    mkdir -p "$PB_SETTINGS_DIR"
    if unshare --mount --propagation private true 2>/dev/null; then
      unshare --mount --propagation private bash -c \
        'mount --bind "$1" "$2" && exec "$3"' _ "$bb_place" "$PB_SETTINGS_DIR" "$tarnwick_bin" &
    else
      exec 9>"$PB_SETTINGS_DIR/.bench-lock"
      flock 9
      cp "$settings_file" "$PB_SETTINGS_DIR/tarnwick.ini"
      "$tarnwick_bin" &
    fi
    app_pid=$!
  }
fi

# The processes that run the program's own code: under Wine, those of this
# run's prefix whose process name is tarnwick.exe (the stand-in's is
# tarnwick-nodesim.exe).
program_pids() {
  local p
  if [[ "$platform" != windows ]]; then echo "$app_pid"; return; fi
  for p in $(pgrep -x 'tarnwick.exe'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
  return 0
}
# Their CPU clock ticks and context switches so far: "ticks switches".
program_usage() {
  local p ticks=0 switches=0
  for p in $(program_pids); do
    ticks=$((ticks + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)))
    switches=$((switches + $(cat /proc/"$p"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {s += $2} END {print s + 0}')))
  done
  echo "$ticks $switches"
}

median() { sort -n | awk '{a[NR]=$1} END {if (NR == 0) print "nan"; else print a[int((NR + 1) / 2)]}'; }

label="$platform"
[[ "$platform" == windows ]] && label="windows under Wine"

case "$what" in
  dtmf)
    tone "$work/tone.wav" 0.3
    write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'DTMFInfo3=55' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
    start_all
    for _ in $(seq 1 20); do
      nodesim_ctl dtmf 55
      sleep 0.8
    done
    lats=$(awk '/ event DTMFString "55"$/ {e = $1} / SetPtt -1$/ && e {print $1 - e; e = 0}' "$trace")
    lat=$(median <<<"$lats")
    n=$(grep -c ' event DTMFString' "$trace")
    awk -v m="$lat" -v n="$n" -v l="$label" -v first="$(head -1 <<<"$lats")" -v worst="$(sort -n <<<"$lats" | tail -1)" \
      'BEGIN { printf "DTMF event to SetPtt -1 (%s): median %s ms over %d commands (goal <= 10 ms) %s; first %s ms, worst %s ms\n", l, m, n, (m <= 10 ? "PASS" : "MISS"), first, worst }'
    ;;
  break)
    ms=${arg:?break length}
    tone "$work/long.wav" 63
    write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/long.wav")" 'DTMFInfo3=9' 'BEACONPERIOD8=1' \
      'STOPCLOCK8=1' "TEXT6=$ms" 'CHECK2=0' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
    start_all
    nodesim_ctl dtmf 9
    got=nan
    read -r _ off < <(wait_unkeyed 1 75) || fail "no break within 75 s"
    for _ in $(seq 1 100); do
      key2=$(keyed_spans | sed -n 2p | cut -d' ' -f1)
      [[ -n "$key2" ]] && { got=$((key2 - off)); break; }
      sleep 0.05
    done
    [[ $got == nan ]] && echo "break of Text6 = $ms ($label): no key after the unkey; keyed spans: $(keyed_spans | tr '\n' ';')"
    awk -v g="$got" -v b="$ms" -v l="$label" 'BEGIN { d = g - b; printf "break of Text6 = %d (%s): SetPtt 0 to SetPtt -1 %s ms (goal %d +-3 ms) %s\n", b, l, g, b, (g != "nan" && d <= 3 && d >= -3 ? "PASS" : "MISS") }'
    ;;
  idle)
    write_settings '[SETTINGS]'
    start_all
    sleep 2
    for _ in $(seq 1 50); do [[ -n "$(program_pids)" ]] && break; sleep 0.1; done
    [[ -n "$(program_pids)" ]] || fail "the program's process was not found"
    read -r t0 c0 < <(program_usage)
    l0=$(wc -l <"$trace")
    sleep 60
    read -r t1 c1 < <(program_usage)
    l1=$(wc -l <"$trace")
    hz=$(getconf CLK_TCK)
    awk -v cpu=$((t1 - t0)) -v hz="$hz" -v c=$((c1 - c0)) -v l=$((l1 - l0)) -v lb="$label" 'BEGIN {
      p = 100 * cpu / hz / 60
      printf "idle cost (%s, default settings, 60 s): %.2f %% of one core (goal <= 1 %%) %s; %.0f wake-ups/s; %.0f node calls/s\n", lb, p, (p <= 1 ? "PASS" : "MISS"), c / 60, l / 60 }'
    ;;
  drift)
    minutes=${arg:-10}
    tone "$work/tone.wav" 1
    write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'BEACONPERIOD6=1' 'STOPCLOCK6=1' 'CHECK2=0' \
      'BEACONPERIOD7=0' 'DTMFInfo3=9'
    start_all
    # The program loads its file at the first transmission, once: a DTMF
    # command does that first, so that the beacons measure the timer alone.
    # What the load costs is printed on its own.
    nodesim_ctl dtmf 9
    sleep $((minutes * 60 + 5))
    awk -v l="$label" '/ event DTMFString "9"$/ && !e { e = $1 } / SetPtt -1$/ && e { printf "first transmission of a run (%s): the file'"'"'s load makes it %d ms from DTMF event to SetPtt -1\n", l, $1 - e; exit }' "$trace"
    # The DTMF command's own transmission, the first, is not a beacon.
    awk -v n="$minutes" -v l="$label" '/ SetPtt -1$/ { if (dtmf++) t[++k] = $1 }
      END {
        worst = 0; offs = ""
        for (i = 2; i <= k; i++) {
          d = t[i] - (t[1] + (i - 1) * 60000); offs = offs " " d
          if (d < 0) d = -d; if (d > worst) worst = d }
        printf "beacon drift (%s, real time, %d min, 1-minute period): %d beacons, worst %d ms off start + k x 60 s (goal +-20 ms) %s\n", l, n, k, worst, (k >= n && worst <= 20 ? "PASS" : "MISS")
        printf "beacon drift (%s): each beacon off start + k x 60 s, ms:%s\n", l, offs }' "$trace"
    ;;
  air)
    format=${arg:?wav, mp3 or mid} plays=${PB_PLAYS:-5}
    tone "$work/tone.wav" 2
    case "$format" in
      wav) file="$work/tone.wav" ;;
      mp3)
        file="$work/tone.mp3"
        gst-launch-1.0 -q -e filesrc location="$work/tone.wav" ! wavparse ! audioconvert ! lamemp3enc \
          ! filesink location="$file" >/dev/null || fail "could not make the mp3"
        ;;
      mid)
        # One organ note of 1 s (format 0, 96 ticks a beat), as the graph tests play.
        file="$work/note.mid"
        printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x10' >"$file"
        printf '\x00\xc0\x13\x00\x90\x45\x7f\x81\x40\x80\x45\x40\x00\xff\x2f\x00' >>"$file"
        ;;
      *) fail "air: no format $format" ;;
    esac
    write_settings '[SETTINGS]' "TEXT4=$(program_path "$file")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
    start_all
    start_air_check
    for n in $(seq 1 "$plays"); do
      click_twips "$win" $((2400 + 427)) $((1200 + 127))  # "Play"
      wait_unkeyed "$n" 20 >/dev/null || fail "play $n did not end"
      sleep 0.7
    done
    stop_air_check
    # Median and worst of each figure over the plays, beside its goal.
    awk -v l="$label" -v f="$format" -v n="$plays" '
      function field(name,   i) { for (i = 1; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2); return "" }
      function median(a, k,   i, j, t, b) { for (i = 1; i <= k; i++) b[i] = a[i]
        for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (b[j] < b[i]) { t = b[i]; b[i] = b[j]; b[j] = t }
        return k ? b[int((k + 1) / 2)] : "nan" }
      function worst(a, k, hi,   i, w) { w = a[1]; for (i = 2; i <= k; i++) if (hi ? a[i] > w : a[i] < w) w = a[i]; return k ? w : "nan" }
      $1 ~ /^span=/ && field("lead") !~ /^[-?]$/ {
        k++; lead[k] = field("lead") + 0; tail[k] = field("tail") + 0; lost[k] = field("lost") + 0
        gap[k] = field("gaps") + 0 > 0 ? field("longest_gap") + 0 : 0; if (tail[k] < 0) cut++ }
      END {
        h = "air check (" l ", " f ", " k " of " n " plays heard)"
        printf "%s: lead median %.1f ms, worst %.1f ms (goal <= 60 ms) %s\n", h, median(lead, k), worst(lead, k, 1), (k == n && worst(lead, k, 1) <= 60 ? "PASS" : "MISS")
        printf "%s: tail median %.1f ms, shortest %.1f ms, longest %.1f ms; cut %d times (goal never cut, <= 30 ms) %s\n", h, median(tail, k), worst(tail, k, 0), worst(tail, k, 1), cut, (k == n && cut == 0 && worst(tail, k, 1) <= 30 ? "PASS" : "MISS")
        printf "%s: sound lost after the unkey median %.1f ms, worst %.1f ms (goal 0 ms) %s\n", h, median(lost, k), worst(lost, k, 1), (k == n && worst(lost, k, 1) == 0 ? "PASS" : "MISS")
        printf "%s: longest gap median %.1f ms, worst %.1f ms (goal no gap >= 5 ms) %s\n", h, median(gap, k), worst(gap, k, 1), (k == n && worst(gap, k, 1) == 0 ? "PASS" : "MISS")
      }' "$air_report"
    ;;
  *) echo "program_bench: unknown benchmark $what" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# Benchmarks of a built program against the stand-in node, each in a
# session of its own (bus, display, sound server): the Linux program, or
# the Windows program under Wine. Figures come from the node's trace
# (milliseconds since the epoch) and from /proc.
#
#   program_bench.sh linux|windows BUILD_DIR dtmf        DTMF event to SetPtt -1 (median <= 10 ms)
#   program_bench.sh linux|windows BUILD_DIR break MS    break length for Text6 = MS (within +-3 ms)
#   program_bench.sh linux|windows BUILD_DIR idle [S]    idle cost over S (60) s (<= 1 % of one core)
#   program_bench.sh linux|windows BUILD_DIR drift MIN   1-minute beacons over MIN minutes (each within +-20 ms)
#   program_bench.sh linux|windows BUILD_DIR report [N]  N (5) error reports while keyed: failed call to SetPtt 0
#                                                        (each <= 100 ms)
#   program_bench.sh linux|windows BUILD_DIR air SCENARIO FORMAT
#                         $PB_PLAYS (5) transmissions of a 2 s wav, mp3 or mid as the air check hears them,
#                         started by SCENARIO: play, dtmf, restart (a second DTMF command 1 s in), resume
#                         (Stop 1 s in, then Resume), beacon (1-minute period), schedule (consecutive
#                         minutes) or break (a long file, a break each keyed minute: $PB_PLAYS breaks);
#                         bench/air_check.sh runs them all
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
  export PB_WHAT=${3:?} PB_ARG=${4:-} PB_ARG2=${5:-}
  source "$here/lib.sh"
  if [[ "$platform" == windows ]]; then
    bench_args windows "$build"  # for the build's Wine architecture
    # A prefix of this run's own, copied from the build's (made first if
    # need be), so that runs do not share a Wine server or settings file.
    (source "$root/scripts/wine-env.sh" "$build/wineprefix")
    place="$build/bench-prefix-$PB_WHAT$PB_ARG$PB_ARG2"
    rm -rf "$place" "$place.lock"
    cp -a "$build/wineprefix" "$place"
    export PB_CLEAN_PREFIX=$place
    bench_args windows "$build" "$place"
  else
    export PB_SETTINGS_DIR=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$build/CMakeCache.txt")
    bench_args linux "$build" "$(mktemp -d)"
  fi
  set -- "${bench_args[@]}"
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
    commands=20
    [[ ${TARNWICK_BENCH_SHORT:-} == 1 ]] && commands=10  # the test command's short form
    for _ in $(seq 1 "$commands"); do
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
    seconds=${arg:-60}
    sleep "$seconds"
    read -r t1 c1 < <(program_usage)
    l1=$(wc -l <"$trace")
    hz=$(getconf CLK_TCK)
    awk -v cpu=$((t1 - t0)) -v hz="$hz" -v c=$((c1 - c0)) -v l=$((l1 - l0)) -v lb="$label" -v s="$seconds" 'BEGIN {
      p = 100 * cpu / hz / s
      printf "idle cost (%s, default settings, %d s): %.2f %% of one core (goal <= 1 %%) %s; %.0f wake-ups/s; %.0f node calls/s\n", lb, s, p, (p <= 1 ? "PASS" : "MISS"), c / s, l / s }'
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
  report)
    # The error report while keyed, as tests/blackbox/report_while_keyed.sh
    # makes it: "Play" of a long file, then the node fails the node-in-use
    # question that the schedule asks every second with "If node in use"
    # ticked. From the failed call to the unkey, both in the node's trace.
    # OK on the report ends the program, so each report has a run of its own.
    runs=${arg:-5} delays=""
    tone "$work/long.wav" 60
    write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/long.wav")" 'CHECK2=1' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
    for run in $(seq 1 "$runs"); do
      start_all
      report_while_keyed
      delays+="$((unkey_ms - failed_ms))"$'\n'
      press_key "$box" Return
      wait_exit "$app_pid" 10 || fail "report $run: the program still runs after the report was answered"
      app_pid=""
      nodesim_ctl close
      wait_exit "$node_pid" 10 || fail "report $run: the stand-in did not close"
      node_pid=""
      # A Wine server of its own for each run: under one that had seen the
      # last report answered with Return, the next program's report closed
      # by itself at once (4 of 5 runs of five reports; none with a fresh one).
      [[ "$platform" == windows ]] && { wineserver -k >/dev/null 2>&1 || true; }
    done
    awk -v l="$label" -v m="$(grep . <<<"$delays" | median)" -v w="$(grep . <<<"$delays" | sort -n | tail -1)" -v n="$runs" \
      -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN { printf "error report while keyed (%s): failed call to SetPtt 0 median %d ms, worst %d ms over %d reports (goal each <= 100 ms) %s; load %s\n", l, m, w, n, (w <= 100 ? "PASS" : "MISS"), load }'
    ;;
  air)
    # air SCENARIO FORMAT. The quick scenarios (play, dtmf, restart, resume)
    # may be joined with commas to run in turn in one session (one start-up
    # instead of several); beacon, schedule and break wait a minute for each
    # transmission and run alone.
    scenarios=${arg:?air SCENARIO FORMAT} format=${PB_ARG2:?air SCENARIO FORMAT} plays=${PB_PLAYS:-5}
    for s in ${scenarios//,/ }; do
      case "$s" in
        play | dtmf | restart | resume) ;;
        beacon | schedule | break) [[ "$scenarios" == "$s" ]] || fail "air: $s runs alone" ;;
        *) fail "air: no scenario $s (play, dtmf, beacon, schedule, break, resume, restart)" ;;
      esac
    done
    # Files of 2 s; for the break one long enough for a break each minute.
    secs=2 break_ms=200
    [[ "$scenarios" == break ]] && secs=$((plays * 60 + 4))
    tone "$work/tone.wav" "$secs"
    case "$format" in
      wav) file="$work/tone.wav" ;;
      mp3)
        file="$work/tone.mp3"
        # The break's long file at a constant bit rate: a variable-rate file
        # without a Xing header has its length guessed from its first frames
        # by Wine's decoder (a 244 s file read and played as 219 s), so the
        # breaks after that would never come.
        encoder=(lamemp3enc)
        [[ "$scenarios" == break ]] && encoder=(lamemp3enc target=bitrate cbr=true bitrate=64)
        gst-launch-1.0 -q -e filesrc location="$work/tone.wav" ! wavparse ! audioconvert ! "${encoder[@]}" \
          ! filesink location="$file" >/dev/null || fail "could not make the mp3"
        ;;
      mid)
        # One organ note (format 0, 96 ticks a beat at 120 beats a minute:
        # 192 ticks a second), as the graph tests play; its length as a
        # variable-length number of ticks.
        file="$work/note.mid"
        ticks=$((secs * 192)) vlq=$(printf '\\x%02x' $((secs * 192 & 0x7f)))
        while ((ticks >>= 7)); do vlq=$(printf '\\x%02x' $((ticks & 0x7f | 0x80)))$vlq; done
        printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00'"$(printf '\\x%02x' $((14 + ${#vlq} / 4)))" >"$file"
        printf '\x00\xc0\x13\x00\x90\x45\x7f'"$vlq"'\x80\x45\x40\x00\xff\x2f\x00' >>"$file"
        ;;
      *) fail "air: no format $format" ;;
    esac
    # The mp3's own silence at its start and its end, as the decoder gives
    # it (the encoder pads both ends, 17.6 and 4-13 ms here): the air check
    # hears it as carrier without sound, but it is the file's, so the lead
    # and tail are judged beyond it. A sample counts as sound from 1 % of
    # full scale, as in the air check. (The synthesiser of the MIDI note
    # starts it a few ms sooner or later from one rendering to the next, so
    # a rendering of its own would not say when the program's began.)
    file_lead=0 file_tail=0
    if [[ $format == mp3 ]]; then
      gst-launch-1.0 -q filesrc location="$file" ! decodebin ! audioconvert ! audio/x-raw,format=S16LE \
        ! wavenc ! filesink location="$work/decoded.wav" >/dev/null 2>&1 || fail "could not decode $file"
      loud='!/^;/ { for (i = 2; i < NF + 1; i++) { v = $i + 0; if (v >= 0.01 || v <= -0.01) { t = $1; if (first == "") first = t; last = t } } }'
      file_lead=$(sox "$work/decoded.wav" -t dat - trim 0 1 | awk "$loud"' END { printf "%.1f", first * 1000 }')
      file_tail=$(sox "$work/decoded.wav" -t dat - trim -1 | awk "$loud"' { end = $1 }
        END { printf "%.1f", (end - last) * 1000 }')
    fi
    # (A key given twice counts the first time: each is given once.)
    settings=('[SETTINGS]' "TEXT4=$(program_path "$file")" 'DTMFInfo3=9' 'CHECK2=0' 'BEACONPERIOD7=0')
    case "$scenarios" in
      beacon) settings+=('BEACONPERIOD6=1' 'STOPCLOCK6=1') ;;
      *) settings+=('BEACONPERIOD6=0') ;;
    esac
    case "$scenarios" in
      break) settings+=('BEACONPERIOD8=1' 'STOPCLOCK8=1' "TEXT6=$break_ms") ;;
      schedule)
        # Every day ticked (a run may pass midnight); the first minute at
        # least 20 s (under Wine 30 s) away, for the start-up.
        for d in SUN MON TUE WED THUR FRI SAT; do settings+=("${d}3=1"); done
        target=$((($(date +%s) + 10 + 10 * slow + 59) / 60 * 60))
        settings+=("HOUR3=$(date -d "@$target" +%H)" "MINS3=$(date -d "@$target" +%M)")
        ;;
    esac
    write_settings "${settings[@]}"
    start_all
    start_air_check

    # Which scenario each keyed span belongs to, and what of it the goals
    # judge: "N SCENARIO ROLE", ROLE "SE" a whole transmission (its lead and
    # tail), "S" its start only, "E" its end only, "-" neither, "stop" the
    # span that Stop ended before a Resume.
    roles="$work/roles"
    : >"$roles"
    spans_now() { keyed_spans | wc -l; }
    keys_now() { grep -c ' SetPtt -1$' "$trace" || true; }
    tag() {
      local n=$1 s=$2 r
      shift 2
      for r in "$@"; do n=$((n + 1)); echo "$n $s $r" >>"$roles"; done
    }
    wait_keys() {  # until the trace holds $1 keys
      for _ in $(seq 1 $((200 * slow))); do (($(keys_now) >= $1)) && return 0; sleep 0.05; done
      fail "no key for the transmission"
    }
    # The field at twips (X, Y) of the main window (a digits-only box) set to TEXT.
    type_field() {
      click_twips "$win" "$1" "$2"
      xdotool windowfocus --sync "$win" 2>/dev/null || true
      xdotool key End BackSpace BackSpace BackSpace
      xdotool type "$3"
    }
    click_play() { click_twips "$win" $((2400 + 427)) $((1200 + 127)); }
    click_stop() { click_twips "$win" $((3480 + 427)) $((1200 + 127)); }
    click_resume() { click_twips "$win" $((4560 + 427)) $((1200 + 127)); }
    restarts=""
    for scenario in ${scenarios//,/ }; do
      for n in $(seq 1 "$plays"); do
        s0=$(spans_now) k0=$(keys_now)
        case "$scenario" in
          play | dtmf)
            if [[ $scenario == play ]]; then click_play; else nodesim_ctl dtmf 9; fi
            wait_unkeyed $((s0 + 1)) 20 >/dev/null || fail "$scenario $n did not end"
            tag "$s0" "$scenario" SE
            ;;
          restart)
            # A second command halfway through: the file starts again from
            # its beginning, keyed anew while keyed (no unkey between).
            nodesim_ctl dtmf 9
            wait_keys $((k0 + 1))
            sleep 1
            nodesim_ctl dtmf 9
            wait_keys $((k0 + 2))
            wait_unkeyed $((s0 + 1)) 20 >/dev/null || fail "restart $n did not end"
            sleep 0.3
            if (($(spans_now) == s0 + 1)); then tag "$s0" restart SE; else tag "$s0" restart S E; fi
            restarts+=" $(($(spans_now) - s0))"
            ;;
          resume)
            # Stop halfway through, Resume half a second later.
            click_play
            wait_keys $((k0 + 1))
            sleep 1
            click_stop
            wait_unkeyed $((s0 + 1)) 10 >/dev/null || fail "Stop $n did not unkey"
            sleep 0.5
            click_resume
            wait_unkeyed $((s0 + 2)) 20 >/dev/null || fail "resume $n did not end"
            tag "$s0" resume stop SE
            ;;
          beacon)
            wait_unkeyed $((s0 + 1)) 75 >/dev/null || fail "beacon $n did not come within 75 s"
            tag "$s0" beacon SE
            ;;
          schedule)
            wait_unkeyed $((s0 + 1)) 75 >/dev/null || fail "nothing was transmitted at $(date -d "@$target" +%H:%M)"
            tag "$s0" schedule SE
            # The next minute: Mins3 at (120 + 3600 + 600, 1680 + 1080 + 360), Hour3 480 twips left of it.
            target=$((target + 60))
            if ((n < plays)); then
              [[ $(date -d "@$target" +%M) == 00 ]] && type_field $((3840 + 187)) $((3120 + 142)) "$(date -d "@$target" +%H)"
              type_field $((4320 + 187)) $((3120 + 142)) "$(date -d "@$target" +%M)"
            fi
            ;;
          break)
            # One command; the long file gives a break each keyed minute.
            nodesim_ctl dtmf 9
            wait_unkeyed $((plays + 1)) $((plays * 60 + 40)) >/dev/null || fail "the long file did not end after $plays breaks"
            roles_list=(S)
            for _ in $(seq 2 "$plays"); do roles_list+=(-); done
            tag 0 break "${roles_list[@]}" E
            break
            ;;
        esac
        sleep 0.7
      done
    done
    stop_air_check
    load=$(cut -d' ' -f1 /proc/loadavg)

    # Median and worst of each figure over the transmissions, beside its goal.
    awk -v l="$label" -v f="$format" -v n="$plays" -v load="$load" -v bms="$break_ms" -v restarts="$restarts" -v secs="$secs" \
      -v fl="$file_lead" -v ft="$file_tail" '
      function field(name,   i) { for (i = 1; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2); return "" }
      function median(a, k,   i, j, t, b) { for (i = 1; i <= k; i++) b[i] = a[i]
        for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (b[j] < b[i]) { t = b[i]; b[i] = b[j]; b[j] = t }
        return k ? b[int((k + 1) / 2)] : "nan" }
      function worst(a, k, hi,   i, w) { w = a[1]; for (i = 2; i <= k; i++) if (hi ? a[i] > w : a[i] < w) w = a[i]; return k ? w : "nan" }
      function known(v) { return v != "" && v !~ /^[-?]$/ }
      FNR == NR { scen[$1] = $2; role[$1] = $3; if (!($2 in seen)) { seen[$2] = 1; order[++ns] = $2 }; next }
      $1 ~ /^span=/ {
        i = substr($1, 6) + 0; s = scen[i]; r = role[i]
        if (s == "") next
        spans[s]++
        # A Resume starts in the middle of the file, past its own silence.
        if ((r == "SE" || r == "S") && known(field("lead"))) lead[s, ++nl[s]] = field("lead") - (s == "resume" ? 0 : fl)
        if (r == "SE" || r == "E") {
          ends[s]++
          if (known(field("tail"))) { t = field("tail") + 0; tail[s, ++nt[s]] = t - ft; if (t < 0) cut[s]++ }
          if (known(field("lost"))) lost[s, ++nlost[s]] = field("lost") + 0
        }
        # A restart plays the start of the file again: its own silence is
        # no gap of the program.
        g = field("gaps") + 0 > 0 ? field("longest_gap") - (s == "restart" ? fl : 0) : 0
        if (r != "stop") gap[s, ++ng[s]] = g < 5 ? 0 : g
        if (known(field("break_silence"))) { bs[s, ++nb[s]] = field("break_silence") + 0; bo[s, nb[s]] = field("break_off") + 0 }
        air[s, spans[s]] = field("on_air") + 0; rl[s, spans[s]] = r; lst[s, spans[s]] = field("lost") + 0
      }
      END {
        for (o = 1; o <= ns; o++) {
          s = order[o]; k = 0
          delete a; for (i = 1; i <= nl[s]; i++) a[i] = lead[s, i]; kl = nl[s]
          h = "air check (" l ", " f ", " s ", load " load ")"
          if (o == 1) printf "%s: the file itself begins with %.1f ms and ends with %.1f ms of silence; lead and tail below are beyond it\n", h, fl, ft
          want = s == "break" ? 1 : n
          printf "%s: lead median %.1f ms, worst %.1f ms, %d of %d transmissions heard (goal <= 60 ms) %s\n", h, median(a, kl), worst(a, kl, 1), kl, want, (kl == want && worst(a, kl, 1) <= 60 ? "PASS" : "MISS")
          delete a; for (i = 1; i <= nt[s]; i++) a[i] = tail[s, i]; k = nt[s]
          printf "%s: tail median %.1f ms, shortest %.1f ms, longest %.1f ms; cut %d times (goal never cut, <= 30 ms) %s\n", h, median(a, k), worst(a, k, 0), worst(a, k, 1), cut[s], (k == want && cut[s] == 0 && worst(a, k, 1) <= 30 ? "PASS" : "MISS")
          delete a; for (i = 1; i <= nlost[s]; i++) a[i] = lost[s, i]; k = nlost[s]
          printf "%s: sound lost after the unkey median %.1f ms, worst %.1f ms (goal 0 ms) %s\n", h, median(a, k), worst(a, k, 1), (k == want && worst(a, k, 1) == 0 ? "PASS" : "MISS")
          delete a; for (i = 1; i <= ng[s]; i++) a[i] = gap[s, i]; k = ng[s]
          printf "%s: longest gap median %.1f ms, worst %.1f ms over %d spans (goal no gap >= 5 ms) %s\n", h, median(a, k), worst(a, k, 1), k, (k > 0 && worst(a, k, 1) == 0 ? "PASS" : "MISS")
          if (s == "break") {
            delete a; delete b; for (i = 1; i <= nb[s]; i++) { a[i] = bs[s, i] - bms; b[i] = bo[s, i] - bms }; k = nb[s]
            printf "%s: break silence on the air minus Text6 = %d: median %+.1f ms, range %+.1f to %+.1f ms over %d of %d breaks (unkey to re-key %+d to %+d ms) (goal +-3 ms) %s\n", h, bms, median(a, k), worst(a, k, 0), worst(a, k, 1), k, n, worst(b, k, 0), worst(b, k, 1), (k == n && worst(a, k, 0) >= -3 && worst(a, k, 1) <= 3 ? "PASS" : "MISS")
          }
          if (s == "restart") {
            one = 0; m = split(restarts, rr, " "); for (i = 1; i <= m; i++) one += rr[i] == 1
            delete a; for (i = 1; i <= spans[s]; i++) a[i] = air[s, i]; k = spans[s]
            printf "%s: a second command 1 s into the file: %d of %d restarts one keyed span (re-keyed while keyed, no unkey between); sound on the air median %.1f ms a restart, for 1 s and the whole %d s file\n", h, one, m, median(a, k), secs
          }
          if (s == "resume") {
            delete a; delete b; k = 0
            for (i = 1; i < spans[s]; i++) if (rl[s, i] == "stop") { k++; a[k] = air[s, i] + air[s, i + 1]; b[k] = lst[s, i] }
            printf "%s: Stop 1 s into the file, Resume 0.5 s later: sound on the air over both spans median %.1f ms, range %.1f to %.1f ms of the %d s file; after Stop %.1f ms (median) played unkeyed\n", h, median(a, k), worst(a, k, 0), worst(a, k, 1), secs, median(b, k)
          }
        }
      }' "$roles" "$air_report"
    # PB_AIR_KEEP=FILE keeps the air check's span lines, to study them.
    [[ -z "${PB_AIR_KEEP:-}" ]] || cp "$air_report" "$PB_AIR_KEEP"
    ;;
  *) echo "program_bench: unknown benchmark $what" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# What goes out over the air, scenario by scenario: files of 2 s (a wav, the
# same as mp3, a MIDI note) transmitted by "Play", a DTMF command, a second
# command during a transmission (restart), Stop and then Resume, the 1-minute
# timed beacon, the schedule (consecutive minutes) and the transmit break (a
# long file, a break each keyed minute), heard by the air check (tools/aircheck)
# beside the program and gated with the stand-in's keying; median and worst
# of the lead (key to sound), the tail (sound to unkey; cut when negative),
# the sound lost after the unkey, the longest gap and the break's silence,
# beside their goals.
#
#   air_check.sh linux|windows BUILD_DIR [N] [SCENARIO...]
#
# N (3) transmissions of each of play, dtmf, restart and resume, in one
# session per format. beacon, schedule and break cost a minute a
# transmission: they run $AIR_CHECK_MINUTES (1) times each, the three
# formats side by side on Linux (each in a session of its own, idle but for
# a transmission a minute) and one after another for Windows: three idle
# Wine sessions at once take both cores of a 2-core machine (load average
# 15.8, 80 % of it system time), which is no measurement of the program.
# AIR_CHECK_SERIAL=1|0 chooses; AIR_CHECK_FORMATS="wav mp3" limits the
# formats. The default run takes about 5 minutes on Linux; N=20 with
# AIR_CHECK_MINUTES=20 about an hour (three for Windows).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: air_check.sh linux|windows BUILD_DIR [N] [SCENARIO...]"
platform=${1:?$usage}
build=${2:?$usage}
n=${3:-3}
shift $(($# < 3 ? $# : 3))
wanted=${*:-play dtmf restart resume beacon schedule break}
read -r -a formats <<<"${AIR_CHECK_FORMATS:-wav mp3 mid}"
serial=${AIR_CHECK_SERIAL:-}
[[ -z $serial && $platform == windows ]] && serial=1
[[ $serial == 0 ]] && serial=""

quick=""
for s in $wanted; do
  case "$s" in
    play | dtmf | restart | resume) quick+="${quick:+,}$s" ;;
    beacon | schedule | break) ;;
    *) echo "air_check: no scenario $s" >&2; exit 2 ;;
  esac
done
if [[ -n "$quick" ]]; then
  for format in "${formats[@]}"; do
    PB_PLAYS=$n bash "$here/program_bench.sh" "$platform" "$build" air "$quick" "$format"
  done
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for s in $wanted; do
  case "$s" in beacon | schedule | break) ;; *) continue ;; esac
  pids=()
  for format in "${formats[@]}"; do
    PB_PLAYS=${AIR_CHECK_MINUTES:-1} bash "$here/program_bench.sh" "$platform" "$build" air "$s" "$format" \
      >"$out/$s.$format" 2>&1 &
    pids+=($!)
    # A run that fails prints why with the others, below.
    if [[ -n "$serial" ]]; then wait "${pids[-1]}" || true; fi
  done
  wait "${pids[@]}" || true
  for format in "${formats[@]}"; do cat "$out/$s.$format"; done
done

#!/usr/bin/env bash
# The transmit break for radios with a time-out: with a one-minute period
# and "Use" ticked, after 60 keyed seconds the node is unkeyed for Text6 ms
# and keyed again, while the file plays on without a gap: on the air, a
# silence of Text6 ms.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

break_ms=400
tone "$work/long.wav" 64 500
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/long.wav")" 'DTMFInfo3=9' 'BEACONPERIOD8=1' \
  'STOPCLOCK8=1' "TEXT6=$break_ms" 'CHECK2=0' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all
start_air_check
nodesim_ctl dtmf 9

read -r key1 off < <(wait_unkeyed 1 75) || fail "no break within 75 s"
read -r key2 end < <(wait_unkeyed 2 15) || fail "the transmission did not end after the break"
sleep 0.3
stop_air_check
cat "$air_report"
period=$((off - key1)) gap=$((key2 - off)) second=$((end - key2))
check "$period >= 59900 && $period <= 60300" "the first break came after $period ms keyed, not 60 s"
check "$gap >= $break_ms - 20 && $gap <= $break_ms + 60" "the break lasted $gap ms, not $break_ms"
check "$period + $gap + $second >= 63900 && $period + $gap + $second <= 64700" "the file did not play to its end"
[[ $(keyed_spans | wc -l) == 2 ]] || fail "more than one break in a 64 s file"

# The file played once, whole and without a hole, through the break (a
# playback that stopped or paused at the break would be short or have a
# gap); the recording loses nothing and is timed within 5 ms.
sound=$(air_field total sound)
gaps=$(($(air_field 1 gaps) + $(air_field 2 gaps)))
if [[ $platform == windows ]] && ((gaps > 0)); then
  # Wine's sound path under-runs now and then on a quiet machine with
  # nothing of ours involved (the DirectShow suite's own playback of a 30 s
  # file, reading the position every 10 ms or every 250 ms: 1-3 silences
  # of 5-13 ms), and its renderer then replays stale buffer or loses the
  # sound. So under Wine silences are allowed, each with as much sound
  # again or as much lost: up to 30 ms, and up to 150 ms while the long
  # ones are a known fault (known_faults: underrun). A playback that
  # stopped at the break would leave one of the break's length.
  longest=$(awk -v a="$(air_field 1 longest_gap)" -v b="$(air_field 2 longest_gap)" 'BEGIN { print (a > b ? a : b) }')
  echo "UNDERRUN (windows): $gaps silences of Wine's sound path while keyed, the longest $longest ms"
  air_timing underrun "$longest" 30 "the sound stopped for $longest ms while keyed"
  allowed=30
  known_fault underrun && allowed=150
  check_sound "$sound >= 63995 - $allowed * $gaps && $sound <= 64005 + $allowed * $gaps" \
    "the sink heard $sound ms of sound, not the 64000 ms file once"
else
  check_sound "$sound >= 63995 && $sound <= 64005" "the sink heard $sound ms of sound, not the 64000 ms file once"
  check_sound "$gaps == 0" "the sound stopped for $(air_field 1 longest_gap) / $(air_field 2 longest_gap) ms while keyed"
fi
# On the air: the sound went on to the unkey and came back with the re-key,
# a silence of the break's length between.
silence=$(air_field 1 break_silence)
if [[ $sound_held == 1 ]]; then
  [[ $silence != - ]] || fail "the air check heard no break in a sound that plays through it"
  check "$silence >= $break_ms - 20 && $silence <= $break_ms + 60" "the break was heard as $silence ms of silence, not $break_ms"
fi
# The end of the file went out too, never cut. (A renderer starved of CPU
# plays late sound after it: under Wine at load 13.6, 30 ms.)
check_sound "$(air_field 2 lost) == 0 && $(air_field 2 tail) >= 0" \
  "$(air_field 2 lost) ms of the file played after the last unkey (tail $(air_field 2 tail) ms)"
check_dead_carrier 1 lead
# The carrier after a minute's play is a fault of its own: the Windows
# program's is a known one (known_faults). The cut is failed above.
air_timing break-tail "$(air_field 2 tail)" 30 \
  "the node stayed keyed $(air_field 2 tail) ms after the sound of transmission 2, at the end of a minute's play"
pass "transmit break: keyed $period ms, off $gap ms ($silence ms silent on the air), then $second ms to the end; $sound ms of sound"

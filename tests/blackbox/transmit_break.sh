#!/usr/bin/env bash
# The transmit break for radios with a time-out: with a one-minute period
# and "Use" ticked, after 60 keyed seconds the node is unkeyed for Text6 ms
# and keyed again, while the file plays on without a gap.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

break_ms=400
tone "$work/long.wav" 64 500
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/long.wav")" 'DTMFInfo3=9' 'BEACONPERIOD8=1' \
  'STOPCLOCK8=1' "TEXT6=$break_ms" 'CHECK2=0' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all
start_recording "$work/rec.wav"
nodesim_ctl dtmf 9

read -r key1 off < <(wait_unkeyed 1 75) || fail "no break within 75 s"
read -r key2 end < <(wait_unkeyed 2 15) || fail "the transmission did not end after the break"
stop_recording
period=$((off - key1)) gap=$((key2 - off)) second=$((end - key2))
check "$period >= 59900 && $period <= 60300" "the first break came after $period ms keyed, not 60 s"
check "$gap >= $break_ms - 20 && $gap <= $break_ms + 60" "the break lasted $gap ms, not $break_ms"
check "$period + $gap + $second >= 63900 && $period + $gap + $second <= 64700" "the file did not play to its end"
[[ $(keyed_spans | wc -l) == 2 ]] || fail "more than one break in a 64 s file"
loud=$(sounding_seconds "$work/rec.wav")
# A playback that ended at the break would give 60 s (a pause shows in the
# silence check below); a loaded machine can make
# Wine's sound output drop a few hundred ms.
check "$loud > 63.5 && $loud < 64.5" "the recording holds $loud s of sound, not the 64 s file"
silence=$(longest_gap_ms "$work/rec.wav")
check "$silence < 30" "the sound stopped for $silence ms during the break"
pass "transmit break: keyed $period ms, off $gap ms, then $second ms to the end; sound without a gap"

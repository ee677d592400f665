#!/usr/bin/env bash
# The DTMF command and the CW ident, from the node's side. Codes that are
# not exactly the stored one send nothing; the stored code is refused while
# the node is in use and "If node in use dont send file" is ticked, and
# otherwise transmits the file (heard at the sink, whole); the code again
# during that transmission starts the file again from its beginning, keyed
# anew without an unkey between; "Send ID" has the node
# send the call sign in Morse, without keying anything itself.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/id.wav" 1.5 700
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'DTMFInfo3=73A' 'CHECK2=1' \
  'CWCALLSIGN=N0CALL/R' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all --call N0CALL-L
start_air_check

for wrong in 73 73a 73A0 " 73A"; do nodesim_ctl dtmf "$wrong"; done
sleep 1
grep -q ' SetPtt -1$' "$trace" && fail "a code other than the stored one keyed the node"
[[ $(grep -c ' event DTMFString' "$trace") == 4 ]] || fail "the stand-in did not raise the four codes"

# In use: the three busy questions are asked, and nothing is sent.
nodesim_ctl busy-a 1
nodesim_ctl dtmf 73A
wait_trace ' event DTMFString "73A"$'
sleep 1
grep -q ' SetPtt -1$' "$trace" && fail "the code keyed the node while it was in use"
read -r event_line _ < <(trace_find '^event DTMFString "73A"$')
[[ "$(sed -n "$((event_line + 1)),\$p" "$trace" | sed -E 's/^[0-9]+ //' | grep -m1 '^GetBusyFlagA')" == "GetBusyFlagA => -1" ]] ||
  fail "the node-in-use test did not follow the code"

nodesim_ctl busy-a 0
nodesim_ctl dtmf 73A
read -r key_ms unkey_ms < <(wait_unkeyed 1 10) || fail "the stored code did not transmit"
keyed=$((unkey_ms - key_ms))
check "$keyed >= 1450 && $keyed <= 2100" "keyed for $keyed ms for a 1500 ms file"

# The code again, and once more 0.7 s into that transmission: one keyed
# span, the whole file from the second command on.
sleep 0.5
line=$(wc -l <"$trace")
nodesim_ctl dtmf 73A
read -r line _ < <(wait_trace_after '^SetPtt -1$' "$line" 10) || fail "the code did not transmit again"
sleep 0.7
nodesim_ctl dtmf 73A
read -r _ restart_ms < <(wait_trace_after '^SetPtt -1$' "$line" 10) || fail "the code during a transmission did not key anew"
read -r key2 unkey2 < <(wait_unkeyed 2 10) || fail "the restarted transmission did not end"
check "$unkey2 - $restart_ms >= 1450 && $unkey2 - $restart_ms <= 2100" "keyed $((unkey2 - restart_ms)) ms after the restart, for a 1500 ms file"
sleep 0.3
stop_air_check
cat "$air_report"
[[ $(keyed_spans | wc -l) == 2 ]] || fail "the restart unkeyed between the two commands"
# The file once, whole, then its start and the whole file again, all on the
# air (the recording loses nothing and is timed within 5 ms).
sound=$(air_field 1 on_air)
check_sound "$sound >= 1495 && $sound <= 1505" "the sink heard $sound ms of sound on the air, not the 1500 ms file once"
# At least the sound from the first one to the second key, and the whole
# file; at most the time keyed before it and the file.
played=$((restart_ms - key2)) sound2=$(air_field 2 on_air)
check_sound "$sound2 >= 1490 + $played - $(air_field 2 lead) && $sound2 <= 1505 + $played" \
  "$sound2 ms on the air for $played ms keyed before the restart and the whole 1500 ms file"
for n in 1 2; do
  check "$(air_field $n lost) == 0 && $(air_field $n tail) >= 0" \
    "$(air_field $n lost) ms of transmission $n played while the node was unkeyed (tail $(air_field $n tail) ms)"
  check_dead_carrier $n lead
done

# "Send ID" sits at (5160, 4890) twips, 855 x 300.
click_twips "$win" $((5160 + 427)) $((4890 + 150))
wait_trace ' SendCwText 0 "N0CALL/R"$' 5
sleep 0.5
[[ $(keyed_spans | wc -l) == 2 ]] || fail "Send ID keyed the node itself"
pass "DTMF command (wrong codes, node in use, stored code; $sound ms of sound; restarted $played ms in, $sound2 ms on the air) and Send ID"

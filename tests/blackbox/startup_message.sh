#!/usr/bin/env bash
# Stored values that cannot be used do not hold the station up: with
# VOLSET=abc and CHECK2=x in the settings file the window comes up with the
# defaults and the message that names them is on the screen; while it
# waits for someone, a DTMF command transmits the file and the end of the
# file unkeys.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

message_box() { xdotool search --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -1 || true; }

tone "$work/id.wav" 2
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'VOLSET=abc' 'CHECK2=x' 'DTMFINFO3=73' \
  'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all
box=$(wait_window '^Tarnwick$') || fail "no message about the unusable stored values"

nodesim_ctl dtmf 73
read -r key_ms unkey_ms < <(wait_unkeyed 1 15) || fail "the DTMF command did not transmit while the message was open"
keyed=$((unkey_ms - key_ms))
check "$keyed >= 1950 && $keyed <= 3000" "keyed for $keyed ms for a 2 s file"
[[ "$(message_box)" == "$box" ]] || fail "the message did not stay open through the transmission"

press_key "$box" Return
for _ in $(seq 1 40); do [[ -z "$(message_box)" ]] && break; sleep 0.05; done
[[ -z "$(message_box)" ]] || fail "the message did not close on OK"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended with the message"
pass "start-up message open on the screen; DTMF transmitted and unkeyed at the end ($keyed ms for 2 s)"

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

# OK: Return, the default button. Under Wine a key sent while the machine is
# busy is now and then ignored by the box (the earlier program alike), where
# a click on OK, as a user would make it, is not.
if ! press_key_until_gone "$box" Return; then
  echo "NOTE ($platform): the box ignored Return; OK clicked"
  read -r bw bh < <(xdotool getwindowgeometry "$box" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
  xdotool mousemove --window "$box" $((bw / 2)) $((bh - 22)) click 1
  for _ in $(seq 1 40); do xwininfo -id "$box" 2>/dev/null | grep -q IsViewable || break; sleep 0.05; done
  ! xwininfo -id "$box" 2>/dev/null | grep -q IsViewable || fail "the message did not close on OK"
fi
kill -0 "$app_pid" 2>/dev/null || fail "the program ended with the message"
pass "start-up message open on the screen; DTMF transmitted and unkeyed at the end ($keyed ms for 2 s)"

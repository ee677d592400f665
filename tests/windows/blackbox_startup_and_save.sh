#!/usr/bin/env bash
# A normal start: the node sees the call sign read twice and the unkey, the
# caption carries the call sign and version, and the settings come from the
# prefix's C:\windows\tarnwick.ini: the window stands where the file says,
# and "Save" writes back what was restored (in place, with the keys that
# were missing added).
source "$(dirname "$0")/blackbox_lib.sh"

printf '[settings]\r\nCwCallSign=K1ABC\r\nTEXT6=75\r\nDTMFInfo3=4321\r\nSTOPCLOCK6=1\r\nLEFT=1500\r\nTOP=1200\r\nVOLSET=-1200\r\n' \
  >"$settings_file"

start_node --call K1ABC-L
start_tarnwick
win=$(wait_window '^Tarnwick ') || fail "no main window"
wait_trace '^[0-9]+ SetPtt 0$'

expected=$'GetSysopInfo\nGetCallsign => "K1ABC-L"\nGetSysopInfo\nGetCallsign => "K1ABC-L"\nSetPtt 0'
[[ "$(trace_ops | head -5)" == "$expected" ]] || fail "start-up calls out of order"

name=$(xdotool getwindowname "$win")
[[ "$name" == "Tarnwick    K1ABC-L   v1.0.5" ]] || fail "caption is '$name'"
pos=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p')
[[ "$pos" == "100 80" ]] || fail "window at '$pos', not at 1500,1200 twips"

# "Save" sits at (1440, 6120) twips, 2175 x 255.
sleep 0.5
click_twips "$win" $((1440 + 1087)) $((6120 + 127))
for _ in $(seq 1 100); do
  [[ $(settings_text | grep -c '=') == 24 ]] && break
  sleep 0.05
done
[[ $(settings_text | grep -c '=') == 24 ]] || fail "Save did not write the 24 keys"
settings_text | grep -q '^CwCallSign=K1ABC$' || fail "call sign not saved in place"
settings_text | grep -q '^DTMFInfo3=4321$' || fail "DTMF code not restored"
settings_text | grep -q '^TEXT6=75$' || fail "break length not restored"
settings_text | grep -q '^VOLSET=-1200$' || fail "volume not restored"
settings_text | grep -q '^STOPCLOCK6=1$' || fail "beacon switch not restored"
settings_text | grep -q '^SUN3=0$' || fail "missing keys not appended"
kill -0 "$app_pid" 2>/dev/null || fail "Tarnwick ended on Save"
echo "PASS start-up and save"

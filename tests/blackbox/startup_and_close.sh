#!/usr/bin/env bash
# A normal start: the node sees the call sign read twice and the unkey, the
# caption carries the call sign and version, the window stands where the
# settings file says; "Save" writes back what was restored (in place, with
# the missing keys added); the node's Closing unkeys, saves and ends
# Tarnwick, and the stand-in, which answered the unkey during its closing
# grace, ends after it.
source "$(dirname "$0")/lib.sh"

write_settings '[settings]' 'CwCallSign=K1ABC' 'TEXT6=75' 'DTMFInfo3=4321' 'STOPCLOCK6=1' 'LEFT=1500' 'TOP=1200' \
  'VOLSET=-1200'

start_all --call K1ABC-L
expected=$'GetSysopInfo\nGetCallsign => "K1ABC-L"\nGetSysopInfo\nGetCallsign => "K1ABC-L"\nSetPtt 0'
[[ "$(trace_ops | head -5)" == "$expected" ]] || fail "start-up calls out of order"
name=$(xdotool getwindowname "$win")
[[ "$name" == "Tarnwick    K1ABC-L   v1.0.5" ]] || fail "caption is '$name'"
pos=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p')
[[ "$pos" == "100 80" ]] || fail "window at '$pos', not at 1500,1200 twips"

# "Save" sits at (1440, 6120) twips, 2175 x 255.
click_twips "$win" $((1440 + 1087)) $((6120 + 127))
for _ in $(seq 1 100); do
  [[ $(settings_text | grep -c '=') == 24 ]] && break
  sleep 0.05
done
[[ $(settings_text | grep -c '=') == 24 ]] || fail "Save did not write the 24 keys"
for kept in CwCallSign=K1ABC DTMFInfo3=4321 TEXT6=75 VOLSET=-1200 STOPCLOCK6=1 SUN3=0; do
  settings_text | grep -qx "$kept" || fail "$kept not saved"
done
[[ "$(settings_text | head -2 | tail -1)" == "CwCallSign=K1ABC" ]] || fail "the call sign did not stay in place"

# A change the next save must carry: the node's Closing saves it.
sed -i 's/^TEXT6=75/TEXT6=80/' "$settings_file"
nodesim_ctl close
wait_exit "$app_pid" 10 || fail "Tarnwick did not end on Closing"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"
grep -q '^[0-9]* event Closing$' "$trace" || fail "no Closing in the trace"
# The Closing handler unkeys, saves and ends: its unkey is the last call the
# node hears (ticks may still run between the event and it).
[[ "$(trace_ops | tail -1)" == "SetPtt 0" ]] || fail "node calls after the unkey: $(trace_ops | tail -3)"
settings_text | grep -qx 'TEXT6=75' || fail "Closing did not save the window's settings"
wait_exit "$node_pid" 10 || fail "the stand-in did not end after its caller had gone"
node_pid=""
[[ "$exit_rc" == 0 ]] || fail "the stand-in ended with status $exit_rc"
pass "start-up, save and close from the node"

#!/usr/bin/env bash
# A normal start: the node sees the call sign read twice and the unkey, the
# caption carries the call sign and version, the window stands where the
# settings file says, and the node's Closing saves what was restored.
source "$(dirname "$0")/lib.sh"

mkdir -p "$TARNWICK_SETTINGS_DIR"
printf '[settings]\nCwCallSign=K1ABC\nTEXT6=75\nDTMFInfo3=4321\nSTOPCLOCK6=1\nLEFT=1500\nTOP=1200\nVOLSET=-1200\n' \
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
size=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*x[0-9]*\).*/\1/p')
[[ "$size" == "417x431" ]] || fail "client area is $size"

"$NODESIM_BIN" --ctl close >/dev/null
wait_exit "$app_pid" 10 || fail "Tarnwick did not end on Closing"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"
grep -q '^[0-9]* event Closing$' "$trace" || fail "no Closing in the trace"
# The Closing handler unkeys, saves and ends: its unkey is the last call the
# node hears (ticks may still run between the event and it).
[[ "$(trace_ops | sed -n '/^event Closing$/,$p' | tail -1)" == "SetPtt 0" ]] || fail "no unkey after Closing"

# The save kept the hand-written keys in place and appended the rest.
grep -q '^CwCallSign=K1ABC$' "$settings_file" || fail "call sign not saved in place"
grep -q '^DTMFInfo3=4321$' "$settings_file" || fail "DTMF code lost"
grep -q '^TEXT6=75$' "$settings_file" || fail "break length lost"
grep -q '^VOLSET=-1200$' "$settings_file" || fail "volume lost"
grep -q '^SUN3=0$' "$settings_file" || fail "missing keys not appended"
[[ $(grep -c '=' "$settings_file") == 24 ]] || fail "not 24 keys: $(cat "$settings_file")"
echo "PASS start-up and close"

#!/usr/bin/env bash
# EchoLink closing: the node's Closing event unkeys, saves the settings to
# the prefix's C:\windows\tarnwick.ini and ends Tarnwick; the stand-in,
# which answered the unkey during its closing grace, ends after it.
source "$(dirname "$0")/blackbox_lib.sh"

printf '[SETTINGS]\r\nCWCALLSIGN=K1ABC\r\nDTMFINFO3=777\r\n' >"$settings_file"

start_node --call K1ABC-L
start_tarnwick
wait_window '^Tarnwick ' >/dev/null || fail "no main window"
wait_trace '^[0-9]+ SetPtt 0$'

nodesim_ctl close >/dev/null || fail "--ctl close failed"
wait_exit "$app_pid" 10 || fail "Tarnwick did not end on Closing"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"
grep -q '^[0-9]* event Closing$' "$trace" || fail "no Closing in the trace"
# The Closing handler unkeys, saves and ends: its unkey is the last call the
# node hears (ticks may still run between the event and it).
[[ "$(trace_ops | sed -n '/^event Closing$/,$p' | tail -1)" == "SetPtt 0" ]] || fail "no unkey after Closing"
[[ "$(trace_ops | tail -1)" == "SetPtt 0" ]] || fail "node calls after the unkey: $(trace_ops | tail -3)"

[[ $(settings_text | grep -c '=') == 24 ]] || fail "Closing did not save the 24 keys"
settings_text | grep -q '^CWCALLSIGN=K1ABC$' || fail "call sign lost"
settings_text | grep -q '^DTMFINFO3=777$' || fail "DTMF code lost"

wait_exit "$node_pid" 10 || fail "the stand-in did not end after its caller had gone"
node_pid=""
[[ "$exit_rc" == 0 ]] || fail "the stand-in ended with status $exit_rc"
echo "PASS close from the node"

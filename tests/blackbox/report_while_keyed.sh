#!/usr/bin/env bash
# An error report while the transmitter is keyed: in the middle of an
# identification the node fails the node-in-use question that the schedule
# asks every second while "If node in use dont send file" is ticked. The
# transmitter is made safe before the report opens: the unkey reaches the
# node within 100 ms of the failed call, while the report still waits for
# someone, and nothing keys again; the program ends once it is answered.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/id.wav" 30
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'CHECK2=1' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all

report_while_keyed
delay=$((unkey_ms - failed_ms))
echo "unkeyed $delay ms after the failed call, with the report open"
check "$delay <= 100" "the unkey came $delay ms after the failed call"
sleep 1
kill -0 "$app_pid" 2>/dev/null || fail "the program ended before the report was answered"
sed -n "$((failed_line + 1)),\$p" "$trace" | sed -E 's/^[0-9]+ //' | grep -q '^SetPtt -1$' &&
  fail "keyed again while the report was open"

press_key "$box" Return
wait_exit "$app_pid" 10 || fail "the program still runs after the report was answered"
app_pid=""
[[ "$exit_rc" != 0 ]] || fail "the program ended with status 0 after an error report"
pass "error report while keyed: unkeyed $delay ms after the failed call, before the report was answered"

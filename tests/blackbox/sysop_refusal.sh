#!/usr/bin/env bash
# A node outside Sysop mode: the refusal, and the program ends on its OK.
# The node closes while the refusal is open. Nothing of the start-up has
# run, so nothing may be saved (the window's design values would overwrite
# the user's settings) and the transmitter is not touched: the settings
# file is unchanged byte for byte, and the node hears the call sign asked
# and nothing more.
source "$(dirname "$0")/lib.sh"

write_settings '[SETTINGS]' 'CWCALLSIGN=K1KEEP' 'SUN3=1' 'TEXT6=75'
before=$(sha256sum <"$settings_file")
stamp=$(stat -c %Y "$settings_file")

start_node --call N0CALL
start_tarnwick
box=$(wait_window '^Tarnwick$') || fail "no Sysop-mode refusal"
nodesim_ctl close
wait_trace '^[0-9]+ event Closing$'
sleep $((2 * slow))
kill -0 "$app_pid" 2>/dev/null || fail "the program ended on Closing without the refusal being answered"
press_key "$box" Return
wait_exit "$app_pid" 10 || fail "Tarnwick still runs after OK"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"

[[ "$(trace_ops)" == $'GetSysopInfo\nGetCallsign => "N0CALL"\nevent Closing' ]] ||
  fail "unexpected node calls: $(trace_ops | tr '\n' ';')"
[[ "$(sha256sum <"$settings_file")" == "$before" && "$(stat -c %Y "$settings_file")" == "$stamp" ]] ||
  fail "the settings file changed"
pass "the Sysop-mode refusal, the node closing under it: nothing saved, nothing keyed, ended on OK"

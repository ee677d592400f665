#!/usr/bin/env bash
# A node outside Sysop mode: the message, OK, the program is gone, and the
# settings file is neither read into effect nor written.
source "$(dirname "$0")/lib.sh"

write_settings '[SETTINGS]' 'CWCALLSIGN=K1KEEP'
before=$(sha256sum "$settings_file")
stamp=$(stat -c %Y "$settings_file")

start_node --call N0CALL
start_tarnwick
box=$(wait_window '^Tarnwick$') || fail "no Sysop-mode message"
press_key "$box" Return
wait_exit "$app_pid" 10 || fail "Tarnwick still runs after OK"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"

[[ "$(trace_ops)" == $'GetSysopInfo\nGetCallsign => "N0CALL"' ]] || fail "unexpected node calls: $(trace_ops)"
[[ "$(sha256sum "$settings_file")" == "$before" && "$(stat -c %Y "$settings_file")" == "$stamp" ]] ||
  fail "the settings file changed"
pass "sysop refusal"

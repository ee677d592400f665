#!/usr/bin/env bash
# A node outside Sysop mode: the message, OK, the program is gone, and the
# prefix's C:\windows\tarnwick.ini is neither read into effect nor written.
source "$(dirname "$0")/blackbox_lib.sh"

printf '[SETTINGS]\r\nCWCALLSIGN=K1KEEP\r\n' >"$settings_file"
before=$(sha256sum "$settings_file")
stamp=$(stat -c %Y "$settings_file")

start_node --call N0CALL
start_tarnwick
box=$(wait_window '^Tarnwick$') || fail "no Sysop-mode message"
text=$(xdotool getwindowname "$box")
press_key "$box" Return
wait_exit "$app_pid" 10 || fail "Tarnwick still runs after OK"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"

[[ "$(trace_ops)" == $'GetSysopInfo\nGetCallsign => "N0CALL"' ]] || fail "unexpected node calls: $(trace_ops)"
[[ "$(sha256sum "$settings_file")" == "$before" && "$(stat -c %Y "$settings_file")" == "$stamp" ]] ||
  fail "the settings file changed"
echo "PASS sysop refusal (box '$text')"

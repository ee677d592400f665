#!/usr/bin/env bash
# The program told to end from outside while keyed unkeys, lists the node
# free and ends, without saving and without its guardian having to act.
# Linux: SIGTERM (a service stop, a log-out), SIGINT (Ctrl-C) and SIGHUP (the
# terminal or session going), also while the file dialog is open; a SIGHUP
# inherited as ignored (nohup) leaves it running. Windows: the session ending without asking (WM_ENDSESSION), a
# critical end (WM_QUERYENDSESSION that no answer can stop), and a forced end
# while the ordinary end-of-session question is still open.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/tone.wav" 60
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0' 'TEXT6=75'
session_end=$(dirname "$tarnwick_bin")/tests/send_session_end.exe

# Starts Tarnwick (and the node, the first time) with `$@` before its path
# on Linux, and keys the node with "Play"; sets key_line.
start_keyed() {
  local mark
  if [[ -z "$node_pid" ]]; then
    start_node
  fi
  mark=$(wc -l <"$trace")
  if [[ "$platform" == windows ]]; then
    wine "$tarnwick_bin" &
  else
    "$@" "$tarnwick_bin" &
  fi
  app_pid=$!
  win=$(wait_window '^Tarnwick ') || fail "no main window"
  wait_trace_after '^SetPtt 0$' "$mark" 10 >/dev/null || fail "no start-up unkey"
  sleep $((slow))
  guard_pid=$(guard_pids)
  mark=$(wc -l <"$trace")
  click_twips "$win" $((2400 + 427)) $((1200 + 127))  # "Play"
  read -r key_line _ < <(wait_trace_after '^SetPtt -1$' "$mark" 10) || fail "Play did not key"
  sleep 0.3
}

ends=0
# After the key: the program unkeyed and listed free, in that order, ended
# with `status`, saved nothing, and its guardian ended quietly.
expect_ended_unkeyed() {
  local what=$1 status=$2 unkey_line
  wait_exit "$app_pid" 20 || fail "$what did not end the program"
  app_pid=""
  # Under 64-bit Wine a process ended while a graph plays may die of a
  # fault in Wine's own teardown (winegstreamer's read thread, inside a
  # Unix call) after the last of its own work; any way out does: only
  # Linux's status, 128 + the signal, is the program's word.
  [[ "$platform" == windows || "$exit_rc" == "$status" ]] || fail "$what: exit status $exit_rc, not $status"
  read -r unkey_line _ < <(trace_find '^SetPtt 0$' "$key_line") || true
  [[ -n "$unkey_line" ]] || fail "$what ended the program keyed"
  [[ "$(sed -n "$((unkey_line + 1))p" "$trace" | sed -E 's/^[0-9]+ //')" == "SetListedBusy 0" ]] ||
    fail "$what: the unkey is not followed by the listing free"
  [[ $(trace_find '^SetPtt 0$' "$unkey_line") == "" ]] || fail "$what: a second unkey (the guardian's?)"
  settings_text | grep -qx 'TEXT6=75' || fail "$what changed the settings file"
  settings_text | grep -q 'CWCALLSIGN' && fail "$what saved the settings"
  if [[ -n "$guard_pid" ]]; then
    for _ in $(seq 1 100); do kill -0 "$guard_pid" 2>/dev/null || break; sleep 0.05; done
    ! kill -0 "$guard_pid" 2>/dev/null || fail "$what: the guardian outlived the program"
  fi
  guard_pid=""
  ! grep -s 'Guardian:' "$log_file" || fail "$what: the guardian had to unkey"
  ends=$((ends + 1))
  [[ $(grep -c ' exit: ended from outside' "$log_file") == "$ends" ]] || fail "$what: the station log does not say how it ended"
}

if [[ "$platform" == linux ]]; then
  # A shell starts its background jobs with SIGINT ignored; a terminal's
  # Ctrl-C reaches a program that has it at its default.
  for sig in TERM INT HUP; do
    start_keyed env --default-signal=INT
    kill -"$sig" "$app_pid"
    expect_ended_unkeyed "SIG$sig" $((128 + $(kill -l "$sig")))
  done

  # Modal boxes run loops of their own: the signal is taken inside them.
  start_keyed env --default-signal=INT
  click_twips "$win" $((5160 + 427)) $((1920 + 142))  # "Load File"
  wait_window '^Open$' >/dev/null || fail "Load File did not open the file dialog"
  kill -TERM "$app_pid"
  expect_ended_unkeyed "SIGTERM while the file dialog is open" 143

  start_keyed nohup
  kill -HUP "$app_pid"
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || fail "a SIGHUP that nohup ignores ended the program"
  [[ $(trace_find '^SetPtt 0$' "$key_line") == "" ]] || fail "a SIGHUP that nohup ignores unkeyed"
  kill -TERM "$app_pid"
  expect_ended_unkeyed "SIGTERM after an ignored SIGHUP" 143
  pass "SIGTERM, SIGINT and SIGHUP end the program unkeyed and listed free, also from inside the file dialog; an ignored SIGHUP stays ignored"
else
  [[ -f "$session_end" ]] || fail "no $session_end (build the tests)"
  start_keyed
  wine "$session_end" end >/dev/null
  expect_ended_unkeyed "WM_ENDSESSION" 0

  start_keyed
  wine "$session_end" critical >/dev/null
  expect_ended_unkeyed "a critical WM_QUERYENDSESSION" 0

  # The ordinary end of the session asks first; the session that ends
  # anyway while the question is open does not wait for the answer.
  start_keyed
  wine "$session_end" query >/dev/null
  wait_window '^Exit Program$' >/dev/null || fail "the end of the session did not ask"
  [[ $(trace_find '^SetPtt 0$' "$key_line") == "" ]] || fail "the question unkeyed before it was answered"
  wine "$session_end" end >/dev/null
  expect_ended_unkeyed "WM_ENDSESSION while the question was open" 0
  pass "the session's end unkeys and lists free: forced, critical, and while the question is open"
fi

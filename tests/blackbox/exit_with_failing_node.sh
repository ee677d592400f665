#!/usr/bin/env bash
# The exits that save keep the window's settings whatever the node does.
# A node program that quits as soon as it has raised Closing (it does not
# wait for its clients, so the unkey that follows fails): a weekday ticked
# during an identification is in the settings file. A node that refuses the
# unkey of "Save / Exit" during an identification: the file is saved, the
# unkey is sent again before the error report, and the program ends after it.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

click_play() { click_twips "$win" $((2400 + 427)) $((1200 + 127)); }       # "Play": (2400, 1200), 855 x 255
click_box() { click_twips "$win" "$1" $((1680 + 630 + 127)); }               # a weekday box of the frame at 1680
click_save_exit() { click_twips "$win" $((3720 + 1207)) $((6120 + 127)); }  # "Save / Exit": (3720, 6120), 2415 x 255

tone "$work/id.wav" 30
settings=("[SETTINGS]" "TEXT4=$(program_path "$work/id.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0')
for day in SUN3 MON3 TUE3 WED3 THUR3 FRI3 SAT3; do settings+=("$day=0"); done
write_settings "${settings[@]}"

# 1. The node vanishes during an identification.
start_all
click_play
wait_trace '^[0-9]+ SetPtt -1$'
click_box $((120 + 120 + 150))  # "Sun" at (120, 630) in the frame at 120
sleep 0.5
nodesim_ctl vanish
wait_exit "$app_pid" 15 || fail "Tarnwick still runs after the node vanished"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "Tarnwick ended with status $exit_rc when the node vanished"
wait_exit "$node_pid" 5 || fail "the stand-in did not vanish"
node_pid=""
[[ "$exit_rc" == 0 ]] || fail "the stand-in ended with status $exit_rc"
[[ "$(trace_ops | tail -1)" == "event Closing" ]] || fail "the node answered after it vanished: $(trace_ops | tail -3)"
settings_text | grep -qx 'SUN3=1' || fail "the weekday ticked before the node vanished was not saved"
pass "the node vanished during an identification: Sun3 saved"
# Under Wine Tarnwick ended keyed (its unkey found no node, and the one it
# sent again went nowhere), so its guardian unkeys the next node there is:
# COM starts the registered stand-in for it, which ends once the guardian
# has let go. The next part needs its own: first the guardian ends, then
# the stand-in it started (none may be up yet when the guardian's first
# try comes a moment after the end).
for _ in $(seq 1 600); do
  [[ -z "$(guard_pids)" ]] && break
  sleep 0.1
done
for _ in $(seq 1 200); do
  nodesim --ctl state >/dev/null 2>&1 || break
  sleep 0.1
done

# 2. The node refuses the unkey of "Save / Exit" during an identification.
start_all
click_play
wait_trace '^[0-9]+ SetPtt -1$'
click_box $((120 + 960 + 150))  # "Mon" at (960, 630)
sleep 0.5
nodesim_ctl fail SetPtt
click_save_exit
box=$(wait_window '^Tarnwick$') || fail "no error report after the refused unkey"
settings_text | grep -qx 'MON3=1' || fail "Save / Exit did not save before the report"
settings_text | grep -qx 'SUN3=1' || fail "the first part's save was lost"
read -r refused_line _ < <(trace_find '^SetPtt 0 => error$')
[[ -n "$refused_line" ]] || fail "the node was never asked to unkey"
[[ -n "$(trace_find '^SetPtt 0$' "$refused_line")" ]] || fail "the unkey was not sent again before the report"
press_key "$box" Return
wait_exit "$app_pid" 10 || fail "Tarnwick still runs after the report"
app_pid=""
[[ "$exit_rc" != 0 ]] || fail "the report of the refused unkey ended with status 0"
[[ $(grep -c ' SetPtt -1$' "$trace") == 1 ]] || fail "keyed again on the way out"
pass "Save / Exit with a refused unkey: Mon3 saved, unkeyed again, report, end"

#!/usr/bin/env bash
# Tarnwick killed while keyed (kill -9: nothing inside the process can act
# any more): its guardian unkeys the node and lists it free within a second,
# says so in the station log, and ends. A node that stalls meanwhile is
# waited for. A program that ends unkeyed takes its guardian with it, and
# the guardian calls nothing.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

# The stand-in's own process (under Wine the shell's job is a loader).
node_process() { pgrep -f -- "--trace $trace" | head -1; }

gone_within() {
  local pid=$1 secs=$2
  for _ in $(seq 1 $((secs * 20))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  return 1
}

# Starts Tarnwick (and the node, the first time), finds the guardian and
# keys the node with "Play"; sets key_line.
start_keyed() {
  local mark
  if [[ -z "$node_pid" ]]; then
    start_all
  else
    mark=$(wc -l <"$trace")
    start_tarnwick
    win=$(wait_window '^Tarnwick ') || fail "no main window"
    wait_trace_after '^SetPtt 0$' "$mark" 10 >/dev/null || fail "no start-up unkey"
    sleep $((slow))
  fi
  guard_pid=$(guard_pids)
  [[ -n "$guard_pid" ]] || fail "no guardian runs beside Tarnwick"
  mark=$(wc -l <"$trace")
  click_twips "$win" $((2400 + 427)) $((1200 + 127))  # "Play"
  read -r key_line _ < <(wait_trace_after '^SetPtt -1$' "$mark" 10) || fail "Play did not key"
  sleep 0.5
}

# Kills the program as a crash would; prints the time in ms.
kill_program() {
  local pid
  pid=$(program_process)
  [[ -n "$pid" ]] || fail "the program's process was not found"
  date +%s%3N
  kill -9 "$pid"
}

tone "$work/tone.wav" 60
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'

# 1. Killed while keyed.
start_keyed
kill_ms=$(kill_program)
read -r unkey_line unkey_ms < <(wait_trace_after '^SetPtt 0$' "$key_line" 5) || fail "nobody unkeyed the node after the kill"
wait_trace_after '^SetListedBusy 0$' "$unkey_line" 5 >/dev/null || fail "nobody listed the node free after the kill"
[[ "$(sed -n "$((unkey_line + 1))p" "$trace" | sed -E 's/^[0-9]+ //')" == "SetListedBusy 0" ]] ||
  fail "the unkey is not followed by the listing free"
took=$((unkey_ms - kill_ms))
check "$took <= 1000" "the guardian unkeyed $took ms after the kill (goal <= 1000 ms)"
gone_within "$guard_pid" 5 || fail "the guardian still runs after it unkeyed"
guard_pid=""  # ended: its pid may be reused by then
grep -q "Guardian: Tarnwick (process [0-9]*) ended with the transmitter keyed; the guardian unkeyed the node and listed it free" \
  "$log_file" || fail "the station log does not say what the guardian did: $(cat "$log_file" 2>/dev/null)"
first="killed while keyed: unkeyed $took ms after the kill"

# 2. Killed while keyed, with the node stalled (it answers nothing for 3 s).
start_keyed
node_process=$(node_process)
[[ -n "$node_process" ]] || fail "the stand-in's process was not found"
kill -STOP "$node_process"
kill_ms=$(kill_program)
sleep 3
kill -CONT "$node_process"
read -r unkey_line unkey_ms < <(wait_trace_after '^SetPtt 0$' "$key_line" 40) || fail "the stalled node was never unkeyed"
wait_trace_after '^SetListedBusy 0$' "$unkey_line" 40 >/dev/null || fail "the stalled node was never listed free"
took=$((unkey_ms - kill_ms))
check "$took >= 2900" "the node was unkeyed $took ms after the kill, while it stood still"
gone_within "$guard_pid" 5 || fail "the guardian still runs after it unkeyed a stalled node"
guard_pid=""  # ended: its pid may be reused by then
grep -Eq "listed it free \\([0-9.]+ s after it ended\\)" "$log_file" || fail "no report of the late unkey: $(cat "$log_file")"

# 3. An ordinary end ("Save / Exit", unkeyed): the guardian ends with it and calls nothing.
start_keyed
told_before=$(grep -c 'Guardian:' "$log_file")
click_twips "$win" $((3720 + 1207)) $((6120 + 127))  # "Save / Exit"
wait_exit "$app_pid" 20 || fail "Save / Exit did not end Tarnwick"
app_pid=""
gone_within "$guard_pid" 5 || fail "the guardian outlived a program that ended unkeyed"
guard_pid=""  # ended: its pid may be reused by then
sleep 1
[[ "$(trace_ops | tail -2 | tr '\n' ' ')" == "SetPtt 0 SetListedBusy 0 " ]] ||
  fail "node calls after Save / Exit's own: $(trace_ops | tail -3 | tr '\n' ' ')"
[[ $(grep -c 'Guardian:' "$log_file") == "$told_before" ]] || fail "the guardian wrote after an ordinary end: $(tail -1 "$log_file")"

# 4. A program without its guardian beside it says so once and runs on.
mkdir "$work/alone"
cp "$tarnwick_bin" "$work/alone/"
tarnwick_bin="$work/alone/$(basename "$tarnwick_bin")"
mark=$(wc -l <"$trace")
start_tarnwick 2>"$work/alone.err"
win=$(wait_window '^Tarnwick ') || fail "a program without its guardian did not start"
wait_trace_after '^SetPtt 0$' "$mark" 10 >/dev/null || fail "no start-up unkey without the guardian"
sleep $((slow))
mark=$(wc -l <"$trace")
click_twips "$win" $((2400 + 427)) $((1200 + 127))  # "Play"
wait_trace_after '^SetPtt -1$' "$mark" 10 >/dev/null || fail "a program without its guardian does not transmit"
[[ $(grep -c 'could not start its guardian' "$log_file") == 1 ]] || fail "the station log does not say once that the guardian is missing"
[[ $(grep -c 'could not start its guardian' "$work/alone.err") == 1 ]] || fail "stderr does not say once that the guardian is missing"
pass "guardian: $first; a stalled node unkeyed once it answered ($took ms); quiet after Save / Exit; missing: said once"

#!/usr/bin/env bash
# A node program busy for a few seconds on its own thread (a directory
# reconnect, a dialog of its own) is slow, not gone. A stall of 3 s during
# an identification only holds the window still: no error report, the file
# plays on, and the node is unkeyed at its end, once. A node that stays
# silent past the call timeout (30 s) counts as gone: the error report
# opens, and OK ends the program; when OK comes before the node answers
# again, the unkey still reaches the node as soon as it does (the program's
# own, or its guardian's), and nothing keys it again.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

now_ms() { date +%s%3N; }
# Waits until a trace line after line $2 matches the regex; prints "lineno ms".
wait_find() {
  local found=""
  for _ in $(seq 1 $(($3 * 20 * slow))); do
    found=$(trace_find "$1" "$2")
    [[ -n "$found" ]] && { echo "$found"; return 0; }
    sleep 0.05
  done
  return 1
}
click_play() { click_twips "$win" $((2400 + 427)) $((1200 + 127)); }  # "Play": (2400, 1200), 855 x 255
report_box() { xdotool search --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -1 || true; }

tone "$work/id.wav" 5
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all

click_play
wait_trace '^[0-9]+ SetPtt -1$'
sleep 1
nodesim_ctl stall 3000
read -r key_ms unkey_ms < <(wait_unkeyed 1 20) || fail "the identification did not end after a 3 s stall"
read -r _ stall_ms < <(trace_find '^stall 3000$')
[[ -n "$stall_ms" ]] || fail "the stall never came"
keyed=$((unkey_ms - key_ms))
echo "a 3 s stall $((stall_ms - key_ms)) ms into a 5 s file: keyed for $keyed ms"
[[ -z "$(report_box)" ]] && kill -0 "$app_pid" 2>/dev/null || fail "a 3 s stall ended the program"
# The file played on while the window stood: the end came once, on time.
check "$keyed >= 4900 && $keyed <= 6500" "keyed for $keyed ms for a 5 s file"
[[ $(keyed_spans | wc -l) == 1 ]] || fail "the identification was keyed more than once"

# Silent for 40 s, from the middle of the next identification.
read -r end_line _ < <(trace_find '^SetPtt 0$' "$(trace_find '^SetPtt -1$' | cut -d' ' -f1)")
click_play
wait_find '^SetPtt -1$' "$end_line" 10 >/dev/null || fail "the second Play did not key"
sleep 1
nodesim_ctl stall 40000
asked_ms=$(now_ms)
box=""
for _ in $(seq 1 $((45 * 20))); do
  box=$(report_box)
  [[ -n "$box" ]] && break
  sleep 0.05
done
[[ -n "$box" ]] || fail "no error report within 45 s of a silent node"
report_ms=$(now_ms)
read -r stall_line stall_ms < <(trace_find '^stall 40000$')
[[ -n "$stall_ms" ]] || fail "the long stall never came"
echo "the error report opened $((report_ms - stall_ms)) ms after the node fell silent"
check "$report_ms - $stall_ms >= 29000" "the error report opened $((report_ms - stall_ms)) ms into the stall, before the 30 s timeout"
# Answered at once, 10 s before the node answers again: the unkey sent as
# the report opened is still on its way (over D-Bus with the bus; over COM
# queued in the program, which waits 2 s for it and ends without it), and
# the program ends first. Once the node answers it is unkeyed all the same:
# by the program's own unkey, or by its guardian, which was never told
# "unkeyed".
press_key "$box" Return
wait_exit "$app_pid" 8 || fail "the program still runs after the report was answered"
app_pid=""
ended_ms=$(now_ms)
[[ "$exit_rc" != 0 ]] || fail "the program ended with status 0 after an error report"
check "$ended_ms - $stall_ms < 39500" "the program ended $((ended_ms - stall_ms)) ms into the stall, not before the node answered"
read -r _ unkey_ms < <(wait_find '^SetPtt 0$' "$stall_line" 30) || fail "the unkey never reached the node once it answered"
check "$unkey_ms - $stall_ms >= 39900" "an unkey reached the node $((unkey_ms - stall_ms)) ms into a 40 s stall"
sed -n "$((stall_line + 1)),\$p" "$trace" | sed -E 's/^[0-9]+ //' | grep -q '^SetPtt -1$' && fail "keyed again after the stall"
by="the program's own unkey"
for _ in $(seq 1 50); do
  grep -q 'Guardian: .* ended with the transmitter keyed; the guardian unkeyed the node' "$log_file" && { by="the guardian"; break; }
  sleep 0.1
done
echo "unkeyed by $by $((unkey_ms - stall_ms - 40000)) ms after the node answered again, $((unkey_ms - ended_ms)) ms after the program ended"
pass "a 3 s stall rides out ($keyed ms keyed for 5 s); a silent node: report after $((report_ms - stall_ms)) ms, answered at once, unkeyed by $by when the node woke"

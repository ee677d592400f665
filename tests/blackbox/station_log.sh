#!/usr/bin/env bash
# The station log, read as a sysop reads it the morning after: a Play, a DTMF
# command and one dropped while the node was in use, and the close from the
# node, each a line in order, stamped with the local time (in a zone 5 h 45
# min east of UTC) to the millisecond when the node saw it happen; no line
# for the idle ticks; and the About window on the screen with the log.
BB_SESSION="--display --bus --pulse"
export TZ=Asia/Kathmandu
source "$(dirname "$0")/lib.sh"

tone "$work/id.wav" 1
id_file=$(program_path "$work/id.wav")
write_settings '[SETTINGS]' "TEXT4=$id_file" 'DTMFInfo3=73A' 'CHECK2=1' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
start_all --call N0CALL-L

# "Play" sits at (2400, 1200) twips, 855 x 255.
click_twips "$win" $((2400 + 427)) $((1200 + 127))
wait_unkeyed 1 10 >/dev/null || fail "Play did not transmit"
nodesim_ctl dtmf 73A
wait_unkeyed 2 10 >/dev/null || fail "the DTMF command did not transmit"
nodesim_ctl rx 1
nodesim_ctl dtmf 73A
for _ in $(seq 1 $((100 * slow))); do
  [[ -f "$log_file" ]] && grep -q 'trigger dropped' "$log_file" && break
  sleep 0.05
done
nodesim_ctl rx 0
sleep 2  # idle ticks: nothing of them may reach the log

# "About" sits at (120, 6120) twips, 1215 x 255. What counts is what the X
# server shows, not what the toolkit believes.
click_twips "$win" $((120 + 607)) $((6120 + 127))
wait_window '^About Tarnwick' >/dev/null || fail "the About window did not reach the screen"
sleep "$slow"
wait_window '^About Tarnwick' >/dev/null || fail "the About window left the screen again"

nodesim_ctl close
wait_exit "$app_pid" 10 || fail "Tarnwick did not end on Closing"
app_pid=""

[[ -f "$log_file" ]] || fail "no station log at $log_file"
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \+0545'
bad=$(log_text | grep -Evx "$stamp .+" || true)
[[ -z "$bad" ]] && [[ $(log_text | wc -l) -gt 0 ]] || fail "lines without a local stamp: $bad"
events=$(log_text | cut -c31-)
keyed='after [0-9]+\.[0-9] s keyed'
expected=(
  "start-up: Tarnwick 1\.0\.5"
  "start-up: node N0CALL-L in Sysop mode"
  "transmission started: Play, ${id_file//\\/\\\\}"
  "transmission ended: end of file, $keyed"
  "transmission started: DTMF \"73A\", ${id_file//\\/\\\\}"
  "transmission ended: end of file, $keyed"
  "trigger dropped: DTMF \"73A\", node in use \(receiving signal\)"
  "exit: node closing"
  "settings saved: .*tarnwick\.ini"
)
[[ $(wc -l <<<"$events") == "${#expected[@]}" ]] || fail "the log holds other lines than the events"
for i in "${!expected[@]}"; do
  line=$(sed -n "$((i + 1))p" <<<"$events")
  [[ "$line" =~ ^${expected[$i]}$ ]] || fail "line $((i + 1)) is '$line', not /${expected[$i]}/"
done

# Each transmission's line is stamped when the node saw its key (the node's
# trace counts milliseconds since the epoch): the offset is the zone's.
log_ms() {
  local line
  line=$(log_text | grep -m"$2" "$1" | tail -1)
  echo $(($(date -d "${line:0:29}" +%s%3N)))
}
read -r key1 _ < <(keyed_spans | sed -n 1p)
read -r key2 _ < <(keyed_spans | sed -n 2p)
for pair in "$(log_ms 'transmission started' 1) $key1" "$(log_ms 'transmission started' 2) $key2"; do
  read -r logged traced <<<"$pair"
  check "$logged - $traced > -300 && $logged - $traced < 300" \
    "a start logged at $logged ms, keyed at $traced ms by the node's clock"
done
pass "station log: $(wc -l <<<"$events") lines, stamped +0545, the keys within 300 ms of the node's"

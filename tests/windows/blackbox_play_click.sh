#!/usr/bin/env bash
# A click on "Play" keys the node, the file is heard at the sound server's
# sink, and the node is listed free and unkeyed once the audio has ended:
# tarnwick.exe with its DirectShow graph under Wine, the stand-in over COM.
#   blackbox_play_click.sh TARNWICK.EXE TARNWICK-NODESIM.EXE PREFIX_DIR
BB_SESSION="--display --pulse"
source "$(dirname "$0")/blackbox_lib.sh"

# Records what reaches the null sink "radio" into a wav file, in the
# background, until stop_recording.
rec_pid=""
start_recording() {
  parec -d "${PULSE_SINK:-radio}.monitor" --file-format=wav --rate=44100 --channels=2 "$1" &
  rec_pid=$!
  sleep 0.4
}
stop_recording() {
  [[ -n "$rec_pid" ]] && kill -INT "$rec_pid" 2>/dev/null && wait "$rec_pid" 2>/dev/null || true
  rec_pid=""
}
trap 'stop_recording; bb_cleanup' EXIT

tone="$work/tone.wav"
sox -n -r 44100 -c 2 "$tone" synth 2 sine 1000 vol 0.5
# The path as the program sees it: the Unix file through Wine's Z: drive.
printf '[SETTINGS]\r\nTEXT4=Z:%s\r\n' "${tone//\//\\}" >"$settings_file"

start_node
start_tarnwick
win=$(wait_window '^Tarnwick ') || fail "no main window"
wait_trace '^[0-9]+ SetPtt 0$'
start_recording "$work/rec.wav"

# "Play" sits at (2400, 1200) twips, 855 x 255.
sleep 0.5
click_twips "$win" $((2400 + 427)) $((1200 + 127))
wait_trace '^[0-9]+ SetPtt -1$' 10
read -r key_line key_ms < <(trace_find '^SetPtt -1$') || true
# The first listing free after the key: it must wait for the end of the file.
free_ms=""
for _ in $(seq 1 100); do
  read -r free_line free_ms < <(trace_find '^SetListedBusy 0$' "$key_line") || true
  [[ -n "${free_ms:-}" ]] && break
  sleep 0.05
done
[[ -n "${free_ms:-}" ]] || fail "never listed free after the file"
next=$(sed -n "$((free_line + 1))p" "$trace" | sed -E 's/^[0-9]+ //')
[[ "$next" == "SetPtt 0" ]] || fail "the listing free is followed by '$next', not the unkey"
keyed=$((free_ms - key_ms))
# The file lasts 2000 ms; the end reaches the node a tick or two after the
# last sample.
(( keyed >= 1950 && keyed <= 2600 )) || fail "keyed for $keyed ms for a 2000 ms file"
sleep 0.3
stop_recording

# The tone is in the recording, for about its length.
rms=$(sox "$work/rec.wav" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
awk -v r="$rms" 'BEGIN { exit !(r > 0.1) }' || fail "no tone recorded (RMS $rms)"
loud=$(sox "$work/rec.wav" -n silence 1 0.01 1% reverse silence 1 0.01 1% reverse stat 2>&1 | awk '/Length/ {print $3}')
awk -v l="$loud" 'BEGIN { exit !(l > 1.8 && l < 2.3) }' || fail "the recorded tone lasts $loud s"
echo "PASS play click (Windows): keyed $keyed ms, tone $loud s, RMS $rms"

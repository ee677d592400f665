#!/usr/bin/env bash
# Playback that dies in the middle of a file: the sound device goes away
# while a 30 s identification plays, first the sink (unloaded from the
# sound server), then, in a second run of the program, the sound server
# itself. The transmission must end then rather than at the file's end:
# the node is listed free and unkeyed. Each figure is the time from just
# before the device went to the unkey in the node's trace.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

now_ms() { date +%s%3N; }
click_play() { click_twips "$win" $((2400 + 427)) $((1200 + 127)); }  # "Play": (2400, 1200), 855 x 255

# Starts the program, plays the file, waits 2 s, runs the command that
# takes the device away, and sets gone_after to the ms from just before it
# to the unkey.
unkey_after() {
  local key_ms unkey_ms gone_ms
  start_all
  click_play
  wait_trace '^[0-9]+ SetPtt -1$'
  sleep 2
  gone_ms=$(now_ms)
  "$@" || fail "could not run: $*"
  read -r key_ms unkey_ms < <(wait_unkeyed 1 25) || fail "still keyed 25 s after: $*"
  check "$unkey_ms - $key_ms < 20000" "the transmission ran on to the end of the file after: $*"
  sleep 1
  [[ $(keyed_spans | wc -l) == 1 ]] || fail "keyed again after the sound went: $(keyed_spans | tr '\n' ' ')"
  [[ -n "$(trace_find '^SetListedBusy 0$' "$(trace_find '^SetPtt -1$' | cut -d' ' -f1)")" ]] || fail "not listed free"
  gone_after=$((unkey_ms - gone_ms))
  nodesim_ctl close
  wait_exit "$app_pid" 10 || fail "Tarnwick did not end on Closing"
  app_pid=""
  wait_exit "$node_pid" 10 || fail "the stand-in did not end"
  node_pid=""
}

tone "$work/id.wav" 30
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'

sink_module=$(pactl list short modules | awk '$2 == "module-null-sink" { print $1; exit }')
[[ -n "$sink_module" ]] || fail "no null sink to take away"
unkey_after pactl unload-module "$sink_module"
sink_ms=$gone_after
echo "sink unloaded: unkeyed after $sink_ms ms"
pactl load-module module-null-sink sink_name=radio >/dev/null || fail "the sink could not be loaded again"
unkey_after pactl exit
server_ms=$gone_after
echo "sound server ended: unkeyed after $server_ms ms"

# GStreamer reports the lost output on its bus, and the Windows graph's
# watch on the sound output finds it gone (Wine's DirectShow sends no event
# and its clock runs on); the next progress tick ends the transmission.
# The figures include pactl's own time.
check "$sink_ms <= 1500" "unkeyed $sink_ms ms after the sink went"
check "$server_ms <= 1500" "unkeyed $server_ms ms after the sound server went"
pass "playback that dies: unkeyed $sink_ms ms after the sink went, $server_ms ms after the server"

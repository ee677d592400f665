#!/usr/bin/env bash
# Runs the DirectShow graph tests (a Windows program under Wine) with what
# only the Linux side can do for them: makes the test media
# (shared/make_media.sh) in a folder named by TARNWICK_DSHOW_MEDIA, records the
# null sink "radio" on request: NAME.start starts parec and is answered by
# NAME.recording, NAME.stop ends it, leaves NAME.wav and NAME.stamps (lines
# "BYTES SECONDS": the bytes received by that time since the epoch) and is
# answered by NAME.done.
# A second pass runs the tests that need the sound server out of reach.
# Run under support/with-session.sh --pulse --display (the CTest entry does).
#   dshow_media_run.sh COMMAND...
set -uo pipefail

media=$(mktemp -d /tmp/tarnwick-dshow-XXXXXX)
agent_pid=""
cleanup() {
  [[ -n "$agent_pid" ]] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
  for pidfile in "$media"/*.pid "$media"/*.stamper; do
    [[ -e "$pidfile" ]] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  rm -rf "$media"
}
trap cleanup EXIT

bash "$(dirname "$0")/../shared/make_media.sh" "$media"

# Stamps a running recorder's progress every few milliseconds with the
# shell's own clock, file reads and waits (no process started per stamp, so
# the stamps keep pace): stamp PID STAMPS.
stamp() {
  local pos _ idle
  exec {idle}<> <(:)
  while kill -0 "$1" 2>/dev/null; do
    { read -r _ pos; } <"/proc/$1/fdinfo/1" 2>/dev/null && echo "$pos $EPOCHREALTIME"
    read -rt 0.003 -u "$idle" _ || :
  done >>"$2"
}

# The recording agent: answers the program's requests until it is ended.
agent() {
  local f name pid
  while :; do
    for f in "$media"/*.start; do
      [[ -e "$f" ]] || continue
      name=${f%.start}
      rm -f "$f"
      # At 1 ms: the null sink then renders at most 1 ms ahead, and what it
      # renders again when a stream starts never reaches the monitor.
      parec -d "${PULSE_SINK:-radio}.monitor" --raw --format=s16le --rate=44100 --channels=2 \
        --latency-msec=1 >"$name.raw" &
      pid=$!
      echo "$pid" >"$name.pid"
      : >"$name.stamps"
      stamp "$pid" "$name.stamps" &
      echo $! >"$name.stamper"
      # parec needs a moment to connect before the first sample it records:
      # it runs once 10 ms of samples have come (the monitor sends silence too).
      for ((i = 0; i < 1000; i++)); do
        (($(stat -c %s "$name.raw") < 1764)) && kill -0 "$pid" 2>/dev/null || break
        sleep 0.005
      done
      : >"$name.recording"
    done
    for f in "$media"/*.stop; do
      [[ -e "$f" ]] || continue
      name=${f%.stop}
      rm -f "$f"
      if [[ -e "$name.pid" ]]; then
        pid=$(cat "$name.pid")
        kill -INT "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        wait "$(cat "$name.stamper")" 2>/dev/null
        rm -f "$name.pid" "$name.stamper"
        sox -t raw -r 44100 -e signed -b 16 -c 2 "$name.raw" "$name.wav"
      fi
      : >"$name.done"
    done
    sleep 0.02
  done
}
agent &
agent_pid=$!

export TARNWICK_DSHOW_MEDIA=$media
"$@"
rc=$?
# The second pass: the tests that need the sound server to be unreachable.
TARNWICK_DSHOW_NO_SOUND_SERVER=1 PULSE_SERVER=unix:/nonexistent/tarnwick-no-server \
  "$@" --gtest_filter='DshowGraphWithoutSoundServer*'
rc2=$?
exit $((rc != 0 ? rc : rc2))

#!/usr/bin/env bash
# Runs the DirectShow graph tests (a Windows program under Wine) with what
# only the Linux side can do for them: makes the test media (sox,
# gst-launch-1.0) in a folder named by TARNWICK_DSHOW_MEDIA, and records the
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

# A 1 kHz sine at half of full scale, as the Linux graph tests use.
tone() { sox -n -r 44100 -b 16 -c "$3" "$media/$1" synth "$2" sine 1000 vol 0.5; }
tone tone.wav 2 2
tone short.wav 0.5 2
tone mono.wav 0.5 1
tone long.wav 12.5 2
# A name in the ANSI code page (CP1252 "t\xF4ne.wav"), stored in UTF-8 as
# Wine stores every name on the Unix side.
tone "tône.wav" 1 2
echo 'Station notes: this is text, not sound.' >"$media/notes.wav"
convert -size 16x16 xc:steelblue "$media/picture.bmp"
convert -size 16x16 xc:steelblue "$media/picture.jpg"

audio="filesrc location=$media/tone.wav ! wavparse ! audioconvert ! audioresample"
encode() { gst-launch-1.0 -q -e "$@" >/dev/null 2>&1 || rm -f "$media/tone.$format"; }
format=mp3 encode $audio ! lamemp3enc ! filesink location="$media/tone.mp3"
format=mp2 encode $audio ! twolamemp2enc ! filesink location="$media/tone.mp2"
format=mpg encode mpegpsmux name=mux ! filesink location="$media/tone.mpg" \
  videotestsrc num-buffers=50 ! video/x-raw,width=352,height=288,framerate=25/1 ! mpeg2enc ! mpegvideoparse ! mux. \
  $audio ! avenc_mp2 ! mpegaudioparse ! mux.
# Uncompressed pictures: under Wine a compressed video (MJPEG, MPEG-4) stalls
# the whole graph on a virtual display, sound track and all.
format=avi encode avimux name=mux ! filesink location="$media/tone.avi" \
  videotestsrc num-buffers=50 ! video/x-raw,format=I420,width=160,height=120,framerate=25/1 ! mux. \
  $audio ! mux.
# One organ note of 1 s in a standard MIDI file (format 0, 96 ticks a beat).
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x10' >"$media/note.mid"
printf '\x00\xc0\x13\x00\x90\x45\x7f\x81\x40\x80\x45\x40\x00\xff\x2f\x00' >>"$media/note.mid"

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
      echo $! >"$name.pid"
      : >"$name.stamps"
      stamp $! "$name.stamps" &
      echo $! >"$name.stamper"
      # parec needs a moment to connect before the first sample it records.
      sleep 0.4
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

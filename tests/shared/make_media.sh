#!/usr/bin/env bash
# Makes the graph tests' media in DIR (see shared/sound_contract.h), for both
# programs' suites: a 1 kHz sine at half of full scale in every file that
# sounds. A file whose tool failed is left out; the suites name it.
#   make_media.sh DIR
set -uo pipefail
media=${1:?usage: make_media.sh DIR}

tone() { sox -n -r 44100 -b 16 -c "$3" "$media/$1" synth "$2" sine 1000 vol 0.5; }
tone tone.wav 2 2
tone short.wav 1 2
tone mono.wav 1 1
tone long.wav 12.5 2
# A name in the ANSI code page (CP1252 "t\xF4ne.wav"), stored in UTF-8 as
# Wine stores every name on the Unix side.
tone "tône.wav" 1 2
echo 'Station notes: this is text, not sound.' >"$media/notes.wav"
convert -size 16x16 xc:steelblue "$media/picture.bmp"
convert -size 16x16 xc:steelblue "$media/picture.jpg"

# The other formats carry the 1 s stereo tone.
audio="filesrc location=$media/short.wav ! wavparse ! audioconvert ! audioresample"
encode() { gst-launch-1.0 -q -e "$@" >/dev/null 2>&1 || rm -f "$media/tone.$format"; }
format=mp3 encode $audio ! lamemp3enc ! filesink location="$media/tone.mp3"
format=mp2 encode $audio ! twolamemp2enc ! filesink location="$media/tone.mp2"
format=mpg encode mpegpsmux name=mux ! filesink location="$media/tone.mpg" \
  videotestsrc num-buffers=25 ! video/x-raw,width=352,height=288,framerate=25/1 ! mpeg2enc ! mpegvideoparse ! mux. \
  $audio ! avenc_mp2 ! mpegaudioparse ! mux.
# Uncompressed pictures: under Wine a compressed video (MJPEG, MPEG-4) stalls
# the whole graph on a virtual display, sound track and all.
format=avi encode avimux name=mux ! filesink location="$media/tone.avi" \
  videotestsrc num-buffers=25 ! video/x-raw,format=I420,width=160,height=120,framerate=25/1 ! mux. \
  $audio ! mux.
# One organ note of 1 s in a standard MIDI file (format 0, 96 ticks a beat):
# an organ, which sustains where a piano fades.
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x10' >"$media/note.mid"
printf '\x00\xc0\x13\x00\x90\x45\x7f\x81\x40\x80\x45\x40\x00\xff\x2f\x00' >>"$media/note.mid"
exit 0

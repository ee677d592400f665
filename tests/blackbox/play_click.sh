#!/usr/bin/env bash
# A click on "Play" keys the node, the file is heard at the sound server's
# sink, and the node is listed free and unkeyed once the audio has ended.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/tone.wav" 2
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")"
start_all
start_recording "$work/rec.wav"

# "Play" sits at (2400, 1200) twips, 855 x 255.
click_twips "$win" $((2400 + 427)) $((1200 + 127))
read -r key_ms unkey_ms < <(wait_unkeyed 1 10) || fail "no transmission ended after the click"
# The unkey comes right after the listing free, and only at the end of the file.
read -r key_line _ < <(trace_find '^SetPtt -1$')
read -r free_line _ < <(trace_find '^SetListedBusy 0$' "$key_line")
[[ "$(sed -n "$((free_line + 1))p" "$trace" | sed -E 's/^[0-9]+ //')" == "SetPtt 0" ]] ||
  fail "the listing free is not followed by the unkey"
keyed=$((unkey_ms - key_ms))
check "$keyed >= 1950 && $keyed <= 2600" "keyed for $keyed ms for a 2000 ms file"
sleep 0.3
stop_recording

rms=$(rms_of "$work/rec.wav")
check "$rms > 0.1" "no tone recorded (RMS $rms)"
loud=$(sounding_seconds "$work/rec.wav")
check "$loud > 1.8 && $loud < 2.3" "the recorded tone lasts $loud s"
pass "play click: keyed $keyed ms, tone $loud s, RMS $rms"

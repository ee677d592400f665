#!/usr/bin/env bash
# A click on "Play" keys the node, the whole file goes out over the air, and
# the node is listed free and unkeyed once the sound has been played: the
# air check hears the sink and gates it with the node's keying.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/tone.wav" 2
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")"
start_all
start_air_check

# "Play" sits at (2400, 1200) twips, 855 x 255.
click_twips "$win" $((2400 + 427)) $((1200 + 127))
wait_unkeyed 1 10 >/dev/null || fail "no transmission ended after the click"
# The unkey comes right after the listing free, and only at the end of the file.
read -r key_line _ < <(trace_find '^SetPtt -1$')
read -r free_line _ < <(trace_find '^SetListedBusy 0$' "$key_line")
[[ "$(sed -n "$((free_line + 1))p" "$trace" | sed -E 's/^[0-9]+ //')" == "SetPtt 0" ]] ||
  fail "the listing free is not followed by the unkey"
sleep 0.3
stop_air_check
cat "$air_report"

[[ $(air_field total spans) == 1 ]] || fail "not one keyed span for one click"
lead=$(air_field 1 lead) tail=$(air_field 1 tail) lost=$(air_field total lost)
sound=$(air_field total sound) level=$(air_field 1 level)
# The sink heard the file once, whole (the recorder loses nothing and places
# each sample within 5 ms), without a hole, at the file's level (a sine at
# half of full scale: -9.03 dBFS).
check_sound "$sound >= 1995 && $sound <= 2005" "the sink heard $sound ms of sound for a 2000 ms file"
check_sound "$(air_field 1 gaps) == 0" "a silence of $(air_field 1 longest_gap) ms inside the identification"
check "$level >= -9.5 && $level <= -8.5" "the tone went out at $level dBFS, not -9.03"
# All of it on the air: nothing played before the key or after the unkey.
check_unless_known tail-cut "$lost == 0 && $tail >= 0" "$lost ms of the file played while the node was unkeyed (tail $tail ms)"
# And no long dead carrier on either side.
check "$lead <= 500" "the sound began $lead ms after the key"
check "$tail <= 500" "the node stayed keyed $tail ms after the sound"
pass "play click: lead $lead ms, tail $tail ms, lost $lost ms, sound $sound ms at $level dBFS"

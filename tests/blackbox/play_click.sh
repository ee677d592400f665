#!/usr/bin/env bash
# A click on "Play" keys the node, the whole file goes out over the air, and
# the node is listed free and unkeyed once the sound has been played: the
# air check hears the sink and gates it with the node's keying. Then "Stop"
# in the middle of a second Play and "Resume": the rest goes out to its end.
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
# "Stop" at (3480, 1200) 0.8 s into a second Play, "Resume" at (4560, 1200)
# half a second later.
sleep 0.5
click_twips "$win" $((2400 + 427)) $((1200 + 127))
wait_trace_after '^SetPtt -1$' "$free_line" 10 >/dev/null || fail "the second Play did not key"
sleep 0.8
click_twips "$win" $((3480 + 427)) $((1200 + 127))
wait_unkeyed 2 10 >/dev/null || fail "Stop did not unkey"
sleep 0.5
click_twips "$win" $((4560 + 427)) $((1200 + 127))
wait_unkeyed 3 10 >/dev/null || fail "the resumed file did not end"
sleep 0.3
stop_air_check
cat "$air_report"

[[ $(air_field total spans) == 3 ]] || fail "not three keyed spans for Play, Play with Stop, and Resume"
lead=$(air_field 1 lead) tail=$(air_field 1 tail) lost=$(air_field 1 lost)
sound=$(awk "BEGIN { print $(air_field 1 on_air) + $lost }") level=$(air_field 1 level)
# The sink heard the file once, whole (the recorder loses nothing and places
# each sample within 5 ms), without a hole, at the file's level (a sine at
# half of full scale: -9.03 dBFS).
check_sound "$sound >= 1995 && $sound <= 2005" "the sink heard $sound ms of sound for a 2000 ms file"
check_sound "$(air_field 1 gaps) == 0" "a silence of $(air_field 1 longest_gap) ms inside the identification"
check "$level >= -9.5 && $level <= -8.5" "the tone went out at $level dBFS, not -9.03"
# All of it on the air: nothing played before the key or after the unkey.
check_unless_known tail-cut "$lost == 0 && $tail >= 0" "$lost ms of the file played while the node was unkeyed (tail $tail ms)"
# And no long dead carrier on either side.
check_dead_carrier 1 lead

# Resume went out to the end of the file, never cut, and only the rest of
# it: Stop leaves the position where the heard sound stood. On Linux the
# pause is exact; under Wine the output plays out what it held at the Stop
# (20 to 40 ms) after the unkey, which Resume puts on the air again.
r_lead=$(air_field 3 lead) r_tail=$(air_field 3 tail) r_lost=$(air_field 3 lost) r_sound=$(air_field 3 on_air)
on_air=$(awk "BEGIN { print $(air_field 2 on_air) + $r_sound }")
heard=$(awk "BEGIN { print $on_air + $(air_field 2 lost) }")
if [[ $platform == linux ]]; then
  check_sound "$heard >= 1995" "Play, Stop and Resume put $heard ms of the 2000 ms file out"
  check_sound "$heard <= 2005 && $(air_field 3 gaps) == 0" \
    "Resume put $heard ms out for the 2000 ms file, with a silence of $(air_field 3 longest_gap) ms"
else
  check_sound "$on_air >= 1995" "Play, Stop and Resume put $on_air ms of the 2000 ms file on the air"
  check_sound "$on_air <= 2060 && $(air_field 3 gaps) == 0" \
    "Resume put $on_air ms on the air for the 2000 ms file, with a silence of $(air_field 3 longest_gap) ms"
fi
check "$r_lost == 0 && $r_tail >= 0" "$r_lost ms of the resumed file played while the node was unkeyed (tail $r_tail ms)"
check_dead_carrier 3 lead
pass "play click: lead $lead ms, tail $tail ms, lost $lost ms, sound $sound ms at $level dBFS; Resume: lead $r_lead ms, tail $r_tail ms, $heard ms heard"

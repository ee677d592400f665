#!/usr/bin/env bash
# The time-of-day schedule: with today ticked and the time set a minute or
# two ahead, the file is transmitted once, in the first second of that
# minute, and not again.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/id.wav" 2
# The next whole minute at least 20 s away (the program needs a few seconds
# to start); days as the settings name them.
target=$(( ($(date +%s) + 20 + 59) / 60 * 60 ))
day_key=$(LC_ALL=C date -d "@$target" +%a | tr a-z A-Z | sed 's/^THU$/THUR/')
hour=$(date -d "@$target" +%H) minute=$(date -d "@$target" +%M)
# One day ticked: today's; the day of the week is that of the target.
days=()
for d in SUN MON TUE WED THUR FRI SAT; do days+=("${d}3=$([[ $d == "$day_key" ]] && echo 1 || echo 0)"); done
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" "HOUR3=$hour" "MINS3=$minute" "${days[@]}" \
  'BEACONPERIOD6=0' 'BEACONPERIOD7=0' 'CHECK2=1'
start_all
start_air_check

now=$(date +%s)
(( now < target )) || fail "the program took too long to start for the chosen minute"
sleep $(( target - now + 4 ))
read -r key_ms unkey_ms < <(wait_unkeyed 1 10) || fail "nothing was transmitted at $hour:$minute"
stop_air_check
# The key falls in the target second (the node hears it a moment later).
late=$(( key_ms - target * 1000 ))
check "$late >= 0 && $late < 1100" "keyed $late ms after $hour:$minute:00"
[[ $(keyed_spans | wc -l) == 1 ]] || fail "the schedule transmitted more than once"
# The file once, whole (the recording loses nothing and is timed within 5 ms).
sound=$(air_field total sound)
check_sound "$sound >= 1995 && $sound <= 2005" "the sink heard $sound ms of sound, not the 2000 ms file once"
pass "schedule at $hour:$minute on $day_key: keyed $late ms into the minute, once; $sound ms of sound"

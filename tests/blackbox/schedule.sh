#!/usr/bin/env bash
# The time-of-day schedule: with today ticked and the time set a minute or
# two ahead, the file is transmitted once, in the first second of that
# minute, and not again. Beside it the 1-minute timed beacon transmits once,
# a minute after the start. Both go out whole.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

tone "$work/id.wav" 2
# The next whole minute at least 20 s away (the program needs a few seconds
# to start); days as the settings name them.
target=$(( ($(date +%s) + 20 + 59) / 60 * 60 ))
# The beacon comes a minute after the start-up (a few seconds from now,
# under Wine up to 12): start later when it would fall on the schedule's.
(( target - $(date +%s) >= 57 && target - $(date +%s) <= 76 )) && sleep 20
day_key=$(LC_ALL=C date -d "@$target" +%a | tr a-z A-Z | sed 's/^THU$/THUR/')
hour=$(date -d "@$target" +%H) minute=$(date -d "@$target" +%M)
# One day ticked: today's; the day of the week is that of the target.
days=()
for d in SUN MON TUE WED THUR FRI SAT; do days+=("${d}3=$([[ $d == "$day_key" ]] && echo 1 || echo 0)"); done
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" "HOUR3=$hour" "MINS3=$minute" "${days[@]}" \
  'BEACONPERIOD6=1' 'STOPCLOCK6=1' 'BEACONPERIOD7=0' 'CHECK2=1'
start_all
start_air_check

now=$(date +%s)
(( now < target )) || fail "the program took too long to start for the chosen minute"
read -r _ started < <(trace_find '^SetPtt 0$')
beacon_due=$(( started / 1000 + 60 ))
last=$(( target > beacon_due ? target : beacon_due ))
sleep $(( last - $(date +%s) + 5 ))
wait_unkeyed 2 10 >/dev/null || fail "not both the schedule and the beacon transmitted: $(keyed_spans | tr '\n' ';')"
sleep 0.3
stop_air_check
cat "$air_report"
[[ $(keyed_spans | wc -l) == 2 ]] || fail "more than the schedule's and the beacon's transmission"
# Which is which: the schedule's key falls in the target second (the node
# hears it a moment later), the beacon's a minute after the start-up.
s=1 b=2
(( $(air_field 2 key) / 1000 == target )) && s=2 b=1
late=$(( $(air_field $s key) - target * 1000 ))
check "$late >= 0 && $late < 1100" "keyed $late ms after $hour:$minute:00"
beacon=$(( $(air_field $b key) - started ))
check "$beacon >= 59900 && $beacon <= 61500" "the beacon keyed $beacon ms after the start-up, not a minute"
# Each the file once, whole, on the air (the recording loses nothing and is
# timed within 5 ms), never cut.
for n in $s $b; do
  sound=$(air_field $n on_air)
  # A cut first, as a cut; then what was short or long on the air, with the
  # silences inside that may explain it.
  check "$(air_field $n lost) == 0 && $(air_field $n tail) >= 0" \
    "$(air_field $n lost) ms of transmission $n played while the node was unkeyed (tail $(air_field $n tail) ms)"
  check_sound "$sound >= 1995 && $sound <= 2005" "$sound ms of transmission $n on the air, not the 2000 ms file once\
 ($(air_field $n gaps) silences inside, the longest $(air_field $n longest_gap) ms)"
  check_dead_carrier $n lead
done
pass "schedule at $hour:$minute on $day_key: keyed $late ms into the minute, once; the beacon $beacon ms after the start-up; each whole on the air"

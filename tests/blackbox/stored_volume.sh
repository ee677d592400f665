#!/usr/bin/env bash
# A volume stored lower than full is the level on the air from the first
# transmission after start: with VOLSET=-1200 a tone at half scale is heard
# 12 dB down (amplitude x 10^(-1200/2000)), on each "Play", with no louder
# burst at its start.
BB_SESSION="--display --bus --pulse"
source "$(dirname "$0")/lib.sh"

volset=-1200
tone "$work/tone.wav" 2
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/tone.wav")" "VOLSET=$volset"
start_all

peak_of() { sox "$1" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}'; }

file_rms=$(rms_of "$work/tone.wav")
file_peak=$(peak_of "$work/tone.wav")
gain=$(awk "BEGIN { print 10 ^ ($volset / 2000) }")
report=""
for n in 1 2; do
  rec="$work/rec$n.wav"
  start_recording "$rec"
  # "Play" sits at (2400, 1200) twips, 855 x 255.
  click_twips "$win" $((2400 + 427)) $((1200 + 127))
  wait_unkeyed "$n" 10 >/dev/null || fail "Play $n: no transmission ended"
  sleep 0.3
  stop_recording

  # The level of the steady tone, away from its edges.
  sox "$rec" "$work/steady$n.wav" silence 1 0.01 1% reverse silence 1 0.01 1% reverse
  loud=$(sox --i -D "$work/steady$n.wav")
  check "$loud > 1.8" "Play $n: only $loud s of tone recorded"
  sox "$work/steady$n.wav" "$work/middle$n.wav" trim 0.25 "$(awk "BEGIN { print $loud - 0.5 }")"
  rms=$(rms_of "$work/middle$n.wav")
  db=$(awk "BEGIN { print 20 * log($rms / ($file_rms * $gain)) / log(10) }")
  check "$db >= -0.5 && $db <= 0.5" "Play $n: RMS $rms, $db dB from the file's $file_rms x $gain"
  # Nothing, not even the first buffer, went out at a higher level.
  peak=$(peak_of "$rec")
  check "$peak <= $file_peak * $gain * 1.06" "Play $n: a peak of $peak against the tone's $file_peak x $gain"
  report+=" play $n: RMS $rms ($db dB), peak $peak;"
done
pass "stored volume $volset:$report expected RMS $(awk "BEGIN { print $file_rms * $gain }")"

#!/usr/bin/env bash
# "Save / Exit" when the settings cannot be written (the settings directory
# on Linux, the settings file under Wine, made immutable: the tests run as
# root, whom a mode bit does not stop). The message says the window's
# settings are lost, not kept, since the program is closing; while it is
# open nothing keys, not even a DTMF command; the program ends after OK and
# the file is as it was.
[[ "${1:-}" == linux && -n "${4:-}" ]] && chattr -i "$4" 2>/dev/null  # left over from a killed run
source "$(dirname "$0")/lib.sh"

# The words of the message box titled "Tarnwick". Windows: read from the
# box by tests/windows/box_text.cpp, built beside the program's tests. Linux:
# Ctrl+C copies the box (as a Windows message box does), read back from the
# X clipboard with Python's tkinter; "" when there is no tkinter.
box_text() {
  if [[ "$platform" == windows ]]; then
    wine "$(dirname "$tarnwick_bin")/tests/box_text.exe" Tarnwick | tr -d '\r'
  elif python3 -c 'import tkinter' 2>/dev/null; then
    press_key "$1" ctrl+c
    sleep 0.5
    python3 -c 'import tkinter; r = tkinter.Tk(); r.withdraw(); print(r.clipboard_get())' 2>/dev/null || true
  fi
}

tone "$work/id.wav" 2
write_settings '[SETTINGS]' "TEXT4=$(program_path "$work/id.wav")" 'DTMFINFO3=73' 'BEACONPERIOD6=0' 'BEACONPERIOD7=0'
if [[ "$platform" == linux ]]; then protected=$bb_place; else protected=$settings_file; fi
unprotect() { chattr -i "$protected" 2>/dev/null || true; }
trap 'unprotect; bb_cleanup' EXIT
chattr +i "$protected" || { echo "SKIP: chattr +i is refused here"; exit 77; }
if : 2>/dev/null >>"$settings_file" && touch "$bb_place/probe" 2>/dev/null; then
  rm -f "$bb_place/probe"
  unprotect
  echo "SKIP: this file system ignores the immutable flag"
  exit 77
fi
before=$(sha256sum <"$settings_file")

start_all
lines_before=$(wc -l <"$trace")
click_twips "$win" $((3720 + 1207)) $((6120 + 127))  # "Save / Exit": (3720, 6120), 2415 x 255
box=$(wait_window '^Tarnwick$') || fail "no message about the failed save"
message=$(box_text "$box")
if [[ -n "$message" ]]; then
  echo "the message: $message"
  [[ "$message" == *"could not be saved"* ]] || fail "the message does not say the save failed: $message"
  [[ "$message" != *kept* ]] || fail "the message says the settings are kept on the way out: $message"
  [[ "$message" == *lost* ]] || fail "the message does not say the settings are lost: $message"
elif [[ "$platform" == windows ]]; then
  fail "the message box could not be read"
else
  echo "NOTE ($platform): the message's words could not be read (no python3 tkinter): not checked"
fi
nodesim_ctl dtmf 73
wait_trace '^[0-9]+ event DTMFString "73"$'
sleep 3
sed -n "$((lines_before + 1)),\$p" "$trace" | sed -E 's/^[0-9]+ //' | grep -q '^SetPtt -1$' &&
  fail "the node was keyed after the click"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended before the message was answered"

press_key "$box" Return
wait_exit "$app_pid" 10 || fail "Tarnwick still runs after OK"
app_pid=""
[[ "$exit_rc" == 0 ]] || fail "exit status $exit_rc"
[[ "$(sha256sum <"$settings_file")" == "$before" ]] || fail "the settings file changed"
pass "Save / Exit with an unwritable settings file: the settings are lost, said so; nothing keyed; ended after OK"

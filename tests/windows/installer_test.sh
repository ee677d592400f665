#!/usr/bin/env bash
# The installer and the .zip, made from this build and tried in a Wine
# prefix of their own: a fresh install lays out the program, the shortcuts,
# the shared settings file and the station log's folder; a reinstall keeps
# the station's settings; the uninstaller removes everything but the
# settings and the log.
#   installer_test.sh BUILD_DIR        (exit 77: makensis is not installed)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: installer_test.sh BUILD_DIR}" && pwd)
command -v makensis >/dev/null || { echo "SKIP: makensis is not installed"; exit 77; }

work="$build/installer-test"
rm -rf "$work"
mkdir -p "$work"
passes=0 failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    echo "ok: $1"
    passes=$((passes + 1))
  else
    echo "FAIL: $1"
    failures=$((failures + 1))
  fi
}

bash "$root/scripts/package-windows.sh" "$build" "$work/out" || exit 1
setup=$(ls "$work"/out/tarnwick-*-setup.exe)
archive=$(ls "$work"/out/tarnwick-*-win*.zip)
check "the zip holds the program, its guardian and its read-me" \
  bash -c "unzip -Z1 '$archive' | LC_ALL=C sort | tr '\n' ' ' | grep -qx 'Tarnwick/ Tarnwick/readme.txt Tarnwick/tarnwick-guard.exe Tarnwick/tarnwick.exe '"

# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh" "$work/prefix"
c="$WINEPREFIX/drive_c"
program="$c/Program Files/Tarnwick"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarnwick"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick'

# The common Startup folder (Wine spells it "StartUp").
startup="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/Tarnwick.lnk"

# Wine's icacls changes nothing, so what is checked is the command the
# installer ran: Wine's process channel traces each command line.
WINEDEBUG=trace+process wine "$setup" /S 2>"$work/install-processes.txt"
wineserver -w
check "the program is in Program Files" test -f "$program/tarnwick.exe"
check "its guardian beside it" test -f "$program/tarnwick-guard.exe"
check "it does not start at log-on unless chosen" test ! -e "$startup"
check "the uninstaller is beside it" test -f "$program/uninstall.exe"
check "the Start menu has the program's shortcut" test -f "$menu/Tarnwick.lnk"
check "the settings file of the machine exists, empty" test -f "$c/windows/tarnwick.ini" -a ! -s "$c/windows/tarnwick.ini"
check "Add/Remove Programs lists it" bash -c "wine reg query '$key' /v DisplayVersion 2>/dev/null | grep -q 1.0.0.5"
check "the station log's folder of the machine exists" test -d "$c/ProgramData/Tarnwick"
check "and the Users group may change it and what it holds" grep -qF \
  'icacls.exe\" \"C:\\ProgramData\\Tarnwick\" /grant *S-1-5-32-545:(OI)(CI)(M)' "$work/install-processes.txt"

printf '[SETTINGS]\r\nTEXT6=75\r\n' >"$c/windows/tarnwick.ini"
printf '2026-12-08 03:00:00.012 +0100 start-up: Tarnwick 1.0.5\r\n' >"$c/ProgramData/Tarnwick/tarnwick.log"
wine "$setup" /S /AUTOSTART
wineserver -w
check "a reinstall keeps the station's settings" grep -q "TEXT6=75" "$c/windows/tarnwick.ini"
check "chosen, it starts at every user's log-on" test -f "$startup"

wine "$program/uninstall.exe" /S
wineserver -w
check "the uninstaller removes the program" test ! -e "$program/tarnwick.exe"
check "and its folder" test ! -e "$program"
check "and the shortcuts" test ! -e "$menu" -a ! -e "$startup"
check "and the Add/Remove Programs entry" bash -c "! wine reg query '$key' >/dev/null 2>&1"
check "but keeps the settings" grep -q "TEXT6=75" "$c/windows/tarnwick.ini"
check "and the station log" grep -q "start-up: Tarnwick" "$c/ProgramData/Tarnwick/tarnwick.log"

wineserver -k 2>/dev/null || true
[[ $failures -eq 0 ]] && rm -rf "$work"
echo "installer test: $passes checks held, $failures did not"
[[ $failures -eq 0 ]]

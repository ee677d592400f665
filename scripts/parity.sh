#!/usr/bin/env bash
# Prints one list of black-box scenarios with each program's result side by
# side: the Linux program and the Windows one under Wine.
#   parity.sh [LINUX_BUILD] [WINDOWS_BUILD]
# The builds default to build-test/ and build-test-win/ (scripts/test.sh
# makes both and runs their CTest suites). Each scenario is a script of
# tests/blackbox that CTest runs against both programs (blackbox_NAME and
# win_blackbox_NAME); the results are read from each build's last CTest run,
# so nothing runs twice. A scenario its build has no record of is run here.
# Where one script checks several scenarios, they share its result, and the
# first failure it reported is printed below the table. CTest is the judge:
# this prints and exits 0.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "${1:-$root/build-test}" 2>/dev/null && pwd || echo "${1:-$root/build-test}")
win_build=$(cd "${2:-$root/build-test-win}" 2>/dev/null && pwd || echo "${2:-$root/build-test-win}")
# A scenario run here uses Wine of the Windows build's own architecture.
win_arch=$(sed -n 's/^TARNWICK_WIN_ARCH:INTERNAL=//p' "$win_build/CMakeCache.txt" 2>/dev/null)
[[ -n "$win_arch" ]] && export TARNWICK_WIN_ARCH=$win_arch

# Scenario | script (tests/blackbox)
scenarios=(
  "Sysop refusal; the node closing under it: no save|sysop_refusal.sh"
  "Start-up trace and caption|startup_and_close.sh"
  "Settings restored, Save in place|startup_and_close.sh"
  "Close from the node saves|startup_and_close.sh"
  "Play click: keyed, tone heard, unkeyed at the end|play_click.sh"
  "DTMF: wrong codes nothing, stored code transmits|dtmf_and_ident.sh"
  "DTMF refused while the node is in use|dtmf_and_ident.sh"
  "Send ID: SendCwText 0, no keying|dtmf_and_ident.sh"
  "Schedule a minute ahead: once, at its second|schedule.sh"
  "Transmit break: off Text6 ms, sound goes on|transmit_break.sh"
  "Told to end while keyed (signal, session): unkeys|end_from_outside.sh"
  "Killed while keyed: the guardian unkeys within 1 s|guardian.sh"
  "Stalled node: the guardian waits until it answers|guardian.sh"
  "Ordinary end: the guardian ends quietly|guardian.sh"
  "Station log: starts, ends, drops, exit; local stamp|station_log.sh"
  "About window on screen with the log's place, lines|station_log.sh"
  "Slow node: 3 s stall rides out; 30 s silent: report|slow_node.sh"
  "Node vanishes while keyed: the exit still saves|exit_with_failing_node.sh"
  "Save / Exit, unkey refused while keyed: saved|exit_with_failing_node.sh"
  "Playback dies (sink, sound server): unkeyed at once|playback_dies.sh"
  "Error report while keyed: unkeyed before it opens|report_while_keyed.sh"
  "Start-up message open: a DTMF command transmits|startup_message.sh"
  "Save / Exit, settings unwritable: 'lost', no key|save_exit_unwritable.sh"
)

declare -A result note
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The result CTest recorded for TEST in BUILD's last run: its output goes to
# $log, the verdict to stdout (nothing when the run did not include it). A
# test run twice (the Windows tests are, after a failure) counts by its
# second run, as "Repassed" when that passed after a failure.
recorded() {
  local build=$1 test=$2 record="$1/Testing/Temporary/LastTest.log"
  [[ -f $record ]] || return 0
  awk -v t="$test" '
    $0 ~ "^[0-9]+/[0-9]+ Testing: " t "$" { inside = 1; out = ""; next }
    inside && /^Test (Passed|Failed|Skipped)/ { failed = failed || verdict ~ /Failed/; verdict = $2; kept = out; inside = 0; next }
    inside && /^[0-9]+\/[0-9]+ Testing: / { inside = 0; next }
    inside { out = out $0 "\n" }
    END {
      if (verdict == "") exit
      printf "%s", kept
      print "Test " (failed && verdict ~ /Passed/ ? "Repassed" : verdict) > "/dev/stderr"
    }
  ' "$record" 2>&1 >"$log" | sed -n 's/^Test \([A-Za-z]*\).*/\1/p'
}

judge() {
  local key=$1 rc=$2
  case $rc in
    0) result[$key]=PASS ;;
    77) result[$key]=SKIP; note[$key]=$(grep -m1 '^SKIP' "$log") ;;
    124) result[$key]=FAIL; note[$key]="timed out after 180 s" ;;
    *) result[$key]=FAIL; note[$key]=$(grep -m1 '^FAIL' "$log" || tail -1 "$log") ;;
  esac
}

# From CTest's record when there is one, else by running the script.
settle() {
  local key=$1 build=$2 test=$3; shift 3
  case $(recorded "$build" "$test") in
    Passed) judge "$key" 0; return ;;
    Repassed) judge "$key" 0; note[$key]="passed when run again; its first run failed"; return ;;
    Skipped) judge "$key" 77; return ;;
    Failed) judge "$key" 1; return ;;
  esac
  env -u BB_INSIDE timeout 180 bash "$@" >"$log" 2>&1
  judge "$key" $?
}

# The settings directory the Linux build was configured with (the program
# reads it from where it was built for).
linux_settings=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$linux_build/CMakeCache.txt" 2>/dev/null)

for entry in "${scenarios[@]}"; do
  IFS='|' read -r _ script <<<"$entry"
  name=${script%.sh}
  if [[ -z "${result[linux:$script]:-}" ]]; then
    if [[ -x "$linux_build/tarnwick" && -x "$linux_build/tarnwick-nodesim" && -n "$linux_settings" ]]; then
      settle "linux:$script" "$linux_build" "blackbox_$name" "$root/tests/blackbox/$script" linux \
        "$linux_build/tarnwick" "$linux_build/tarnwick-nodesim" "$linux_settings"
    else
      result[linux:$script]="-"
    fi
  fi
  if [[ -z "${result[windows:$script]:-}" ]]; then
    if [[ -f "$win_build/tarnwick.exe" && -f "$win_build/tarnwick-nodesim.exe" ]]; then
      settle "windows:$script" "$win_build" "win_blackbox_$name" "$root/tests/blackbox/$script" windows \
        "$win_build/tarnwick.exe" "$win_build/tarnwick-nodesim.exe" "$win_build/wineprefix"
    else
      result[windows:$script]="-"
    fi
  fi
done

printf '%-52s %-8s %s\n' "Scenario" "Linux" "Windows (Wine)"
for entry in "${scenarios[@]}"; do
  IFS='|' read -r name script <<<"$entry"
  printf '%-52s %-8s %s\n' "$name" "${result[linux:$script]}" "${result[windows:$script]}"
done
for key in "${!note[@]}"; do
  printf '  %s %s: %s\n' "${key%%:*}" "${key#*:}" "${note[$key]}"
done | sort
exit 0

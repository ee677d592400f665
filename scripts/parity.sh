#!/usr/bin/env bash
# Runs one list of black-box scenarios against both programs, the Linux one
# and the Windows one under Wine, and prints PASS or FAIL for each scenario
# and program side by side.
#   parity.sh [LINUX_BUILD] [WINDOWS_BUILD]
# The builds default to build-test/ and build-test-win/ (scripts/test.sh
# makes both). A program that is not built shows "-". The scenarios are the
# scripts CTest runs (tests/blackbox/test_*.sh for Linux,
# tests/windows/blackbox_*.sh for Windows); where one script checks several
# scenarios, they share its result, and the first failure it reported is
# printed below the table. CTest is the judge: this prints and exits 0.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "${1:-$root/build-test}" 2>/dev/null && pwd || echo "${1:-$root/build-test}")
win_build=$(cd "${2:-$root/build-test-win}" 2>/dev/null && pwd || echo "${2:-$root/build-test-win}")

# Scenario | Linux script (tests/blackbox) | Windows script (tests/windows)
scenarios=(
  "Sysop refusal|test_sysop_refusal.sh|blackbox_sysop_refusal.sh"
  "Start-up trace and caption|test_startup_and_close.sh|blackbox_startup_and_save.sh"
  "Settings restored|test_startup_and_close.sh|blackbox_startup_and_save.sh"
  "Close from the node saves|test_startup_and_close.sh|blackbox_close_from_node.sh"
  "Play click: keyed, tone heard, unkeyed at the end|test_play_click.sh|blackbox_play_click.sh"
)

declare -A result note
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The settings directory the Linux build was configured with (the program
# reads it from where it was built for).
linux_settings=$(sed -n 's/^TARNWICK_SETTINGS_DIR:PATH=//p' "$linux_build/CMakeCache.txt" 2>/dev/null)

run_linux() {
  local script=$1
  if [[ ! -x "$linux_build/tarnwick" || ! -x "$linux_build/tarnwick-nodesim" || -z "$linux_settings" ]]; then
    result[linux:$script]="-"
    return
  fi
  env -u BB_INSIDE TARNWICK_BIN="$linux_build/tarnwick" NODESIM_BIN="$linux_build/tarnwick-nodesim" \
    TARNWICK_SETTINGS_DIR="$linux_settings" timeout 180 bash "$root/tests/blackbox/$script" >"$log" 2>&1
  judge "linux:$script" $?
}

run_windows() {
  local script=$1
  if [[ ! -f "$win_build/tarnwick.exe" || ! -f "$win_build/tarnwick-nodesim.exe" ]]; then
    result[windows:$script]="-"
    return
  fi
  env -u BB_INSIDE timeout 180 bash "$root/tests/windows/$script" "$win_build/tarnwick.exe" \
    "$win_build/tarnwick-nodesim.exe" "$win_build/wineprefix" >"$log" 2>&1
  judge "windows:$script" $?
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

for entry in "${scenarios[@]}"; do
  IFS='|' read -r _ linux_script win_script <<<"$entry"
  [[ -n "${result[linux:$linux_script]:-}" ]] || run_linux "$linux_script"
  [[ -n "${result[windows:$win_script]:-}" ]] || run_windows "$win_script"
done

printf '%-52s %-8s %s\n' "Scenario" "Linux" "Windows (Wine)"
for entry in "${scenarios[@]}"; do
  IFS='|' read -r name linux_script win_script <<<"$entry"
  printf '%-52s %-8s %s\n' "$name" "${result[linux:$linux_script]}" "${result[windows:$win_script]}"
done
for key in "${!note[@]}"; do
  printf '  %s %s: %s\n' "${key%%:*}" "${key#*:}" "${note[$key]}"
done | sort
exit 0

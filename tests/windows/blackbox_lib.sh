# Shared helpers of the Windows black-box scenarios: the Wine variant of
# tests/blackbox/lib.sh. Each scenario re-runs itself under its own X server
# (with-session.sh), runs tarnwick.exe and tarnwick-nodesim.exe in the given
# Wine prefix as a user would, and judges by the node's trace, the prefix's
# C:\windows\tarnwick.ini and what is on the screen.
#
#   blackbox_SCENARIO.sh TARNWICK.EXE TARNWICK-NODESIM.EXE PREFIX_DIR
#
# The stand-in is registered in the prefix (its type library gives Tarnwick
# the event ids) and started by hand, headless, with a trace. At the end the
# prefix's Wine server is stopped, which ends whatever the scenario left.

set -euo pipefail
bb_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ -z "${BB_INSIDE:-}" ]]; then
  export BB_INSIDE=1
  # shellcheck disable=SC2086
  exec "$bb_here/../support/with-session.sh" ${BB_SESSION:---display} bash "$0" "$@"
fi

tarnwick_exe=${1:?usage: $0 TARNWICK.EXE TARNWICK-NODESIM.EXE PREFIX_DIR}
nodesim_exe=${2:?usage: $0 TARNWICK.EXE TARNWICK-NODESIM.EXE PREFIX_DIR}
bb_prefix=${3:?usage: $0 TARNWICK.EXE TARNWICK-NODESIM.EXE PREFIX_DIR}
if ! command -v wine >/dev/null; then
  echo "SKIP: wine is not installed"
  exit 77
fi
# shellcheck source=../../scripts/wine-env.sh
source "$bb_here/../../scripts/wine-env.sh" "$bb_prefix"

# The file the profile functions use for "tarnwick.ini": the prefix's
# Windows directory.
settings_file="$WINEPREFIX/drive_c/windows/tarnwick.ini"
work=$(mktemp -d)
trace="$work/trace.log"
node_pid="" app_pid=""

bb_cleanup() {
  local pid
  for pid in $app_pid $node_pid; do
    { kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true
  done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
  rm -f "$settings_file"
}
trap bb_cleanup EXIT
rm -f "$settings_file"

fail() {
  echo "FAIL: $*" >&2
  if [[ -f "$trace" ]]; then echo "--- node trace:" >&2; cat "$trace" >&2; fi
  if [[ -f "$settings_file" ]]; then echo "--- tarnwick.ini:" >&2; cat "$settings_file" >&2; fi
  exit 1
}

# The stand-in's --ctl, from the command line as a person types it.
nodesim_ctl() { wine "$nodesim_exe" --ctl "$@"; }

# Registers the stand-in and starts it headless with a trace; extra options
# pass through.
start_node() {
  wine "$nodesim_exe" --register >/dev/null || fail "the stand-in could not be registered"
  : >"$trace"
  wine "$nodesim_exe" --headless --trace "$trace" "$@" &
  node_pid=$!
  for _ in $(seq 1 100); do
    nodesim_ctl state >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "the stand-in node did not come up"
}

start_tarnwick() {
  wine "$tarnwick_exe" &
  app_pid=$!
}

# Waits for a visible window whose name matches the regex; prints its id.
wait_window() {
  local pattern=$1 id=""
  for _ in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}

# Gives a window the keyboard focus (there is no window manager) and types
# a key into it.
press_key() {
  local win=$1 key=$2
  sleep 0.5  # let Wine finish mapping the window
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --window "$win" "$key" 2>/dev/null || xdotool key "$key"
}

# Clicks a point of Tarnwick's main window given in twips of its client
# area, 15 twips a pixel at Wine's 96 dots an inch. Without a window manager
# Wine draws the frame and caption inside the X window, so the client area
# starts where the frame ends: the X window is the client area (6255 x 6465
# twips, 417 x 431 pixels) with an equal frame left, right and below and the
# caption above.
click_twips() {
  local win=$1 x=$(( $2 / 15 )) y=$(( $3 / 15 )) w h
  read -r w h < <(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
  local frame=$(( (w - 417) / 2 ))
  local top=$(( h - 431 - frame ))
  xdotool mousemove --window "$win" $(( x + frame )) $(( y + top )) click 1
}

# Waits until a process has ended and sets exit_rc to its exit status.
wait_exit() {
  local pid=$1 secs=${2:-10}
  exit_rc=""
  for _ in $(seq 1 $((secs * 20))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      exit_rc=0
      wait "$pid" || exit_rc=$?
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# Waits until the trace holds a line matching the regex.
wait_trace() {
  local pattern=$1 secs=${2:-10}
  for _ in $(seq 1 $((secs * 20))); do
    grep -Eq "$pattern" "$trace" && return 0
    sleep 0.05
  done
  fail "trace never showed /$pattern/"
}

# The trace without its timestamps.
trace_ops() { sed -E 's/^[0-9]+ //' "$trace"; }

# The first trace line matching the regex after line number $2 (0: from
# the start); prints "lineno ms".
trace_find() {
  local pattern=$1 after=${2:-0}
  awk -v p="$pattern" -v a="$after" 'NR > a { line = $0; sub(/^[0-9]+ /, "", line); if (line ~ p) { print NR, $1; exit } }' "$trace"
}

# The settings file with Windows line ends made plain, for grep.
settings_text() { tr -d '\r' <"$settings_file"; }

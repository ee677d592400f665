# Shared helpers of the black-box scenarios. Each scenario re-runs itself
# under its own X server and session bus (with-session.sh), starts the built
# programs as a user would, and judges by the node's trace, the settings file
# and what is on the screen.
#
# Environment (set by CTest): TARNWICK_BIN, NODESIM_BIN, TARNWICK_SETTINGS_DIR.

set -euo pipefail
bb_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# A scenario that needs sound sets BB_SESSION="--display --bus --pulse"
# before sourcing this file.
if [[ -z "${BB_INSIDE:-}" ]]; then
  export BB_INSIDE=1
  # shellcheck disable=SC2086
  exec "$bb_here/../support/with-session.sh" ${BB_SESSION:---display --bus} bash "$0" "$@"
fi

: "${TARNWICK_BIN:?}" "${NODESIM_BIN:?}" "${TARNWICK_SETTINGS_DIR:?}"
settings_file="$TARNWICK_SETTINGS_DIR/tarnwick.ini"
work=$(mktemp -d)
trace="$work/trace.log"
node_pid="" app_pid=""

bb_cleanup() {
  [[ -n "${rec_pid:-}" ]] && kill "$rec_pid" 2>/dev/null || true
  [[ -n "$app_pid" ]] && kill -9 "$app_pid" 2>/dev/null || true
  [[ -n "$node_pid" ]] && kill "$node_pid" 2>/dev/null || true
  rm -rf "$work"
  rm -f "$settings_file"
}
trap bb_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [[ -f "$trace" ]]; then echo "--- node trace:" >&2; cat "$trace" >&2; fi
  exit 1
}

# Starts the stand-in node headless with a trace; extra options pass through.
start_node() {
  : >"$trace"
  "$NODESIM_BIN" --headless --trace "$trace" "$@" &
  node_pid=$!
  for _ in $(seq 1 100); do
    "$NODESIM_BIN" --ctl state >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  fail "the stand-in node did not come up"
}

start_tarnwick() {
  mkdir -p "$TARNWICK_SETTINGS_DIR"
  "$TARNWICK_BIN" &
  app_pid=$!
}

# Waits for a window whose name matches the regex; prints its id.
wait_window() {
  local pattern=$1 id=""
  for _ in $(seq 1 100); do
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
  sleep 0.3  # let the toolkit finish mapping the window
  xdotool windowfocus --sync "$win"
  xdotool key "$key"
}

# Waits until a process has ended and sets exit_rc to its exit status.
# (Not usable in $(...): only this shell can wait for its children.)
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

# Milliseconds since the epoch of the first trace line matching the regex
# after line number $2 (0: from the start); prints "lineno ms".
trace_find() {
  local pattern=$1 after=${2:-0}
  awk -v p="$pattern" -v a="$after" 'NR > a { line = $0; sub(/^[0-9]+ /, "", line); if (line ~ p) { print NR, $1; exit } }' "$trace"
}

# Records what reaches the null sink "radio" into a wav file, in the
# background; stop_recording ends it.
rec_pid=""
start_recording() {
  parec -d radio.monitor --file-format=wav --rate=44100 --channels=2 "$1" &
  rec_pid=$!
  sleep 0.3
}
stop_recording() {
  [[ -n "$rec_pid" ]] && kill -INT "$rec_pid" 2>/dev/null && wait "$rec_pid" 2>/dev/null || true
  rec_pid=""
}

# Clicks a point of a window given in twips of its client area.
click_twips() {
  local win=$1 x=$(( $2 / 15 )) y=$(( $3 / 15 ))
  xdotool mousemove --window "$win" "$x" "$y" click 1
}

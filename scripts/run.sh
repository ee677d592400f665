#!/usr/bin/env bash
# The main job. On a fresh Debian 12 machine, as root:
#   bash scripts/run.sh
# Installs what is missing, builds into build/, starts the stand-in node and
# Tarnwick on the display. Where there is no display it uses a virtual one,
# keeps both running for a short while, saves a screenshot and the node's
# trace, ends the run through the node's Closing event, and prints where the
# files are. With a real display both keep running until Tarnwick ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ "${1:-}" != "--inner" ]]; then
  bash "$root/scripts/setup.sh"
  bash "$root/scripts/build.sh" "$root/build" -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=OFF
  # A session bus of our own when there is none (the node is found on it),
  # and a private sound server whose null sink stands in for the radio's
  # audio input when the machine has none.
  services=()
  [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]] && services+=(--bus)
  pactl info >/dev/null 2>&1 || services+=(--pulse)
  exec bash "$root/tests/support/with-session.sh" "${services[@]}" bash "$0" --inner
fi

build="$root/build"
out="$root/out"
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  export XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 0700 "$XDG_RUNTIME_DIR"
fi
mkdir -p "$out"
trace="$out/node-trace.log"
: >"$trace"

virtual=0
xvfb_pid=""
if [[ -z "${DISPLAY:-}" ]] || ! xdpyinfo >/dev/null 2>&1; then
  virtual=1
  for n in $(seq 50 99); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
# First run: offer the sample station ID made by the set-up.
settings=/var/lib/tarnwick/tarnwick.ini
if [[ ! -e "$settings" && -s /var/lib/tarnwick/sample-id.wav ]]; then
  printf '[SETTINGS]\nTEXT4=/var/lib/tarnwick/sample-id.wav\n' >"$settings"
fi

node_pid="" app_pid="" rec_pid=""
cleanup() {
  [[ -n "$rec_pid" ]] && kill "$rec_pid" 2>/dev/null || true
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$node_pid" ]] && kill "$node_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$build/tarnwick-nodesim" --trace "$trace" &
node_pid=$!
for _ in $(seq 1 50); do "$build/tarnwick-nodesim" --ctl state >/dev/null 2>&1 && break; sleep 0.1; done
# Put the stand-in's window beside Tarnwick's (which opens at 300 twips).
node_win=$(timeout 5 xdotool search --sync --onlyvisible --pid "$node_pid" 2>/dev/null | head -1 || true)
[[ -n "$node_win" ]] && xdotool windowmove "$node_win" 460 20 || true

"$build/tarnwick" &
app_pid=$!

if [[ $virtual -eq 0 ]]; then
  echo "Tarnwick and the stand-in node are running on $DISPLAY."
  echo "The node's trace: $trace"
  wait "$app_pid" || true
  app_pid=""
  exit 0
fi

sleep 4
import -window root "$out/screenshot.png"

# Demonstrate a transmission: press "Play" (at 2400,1200 twips, 855 x 255),
# record what reaches the sound server, wait for the unkey.
app_win=$(xdotool search --onlyvisible --name '^Tarnwick ' | head -1)
# At 1 ms: a monitor misses as much of the start of each sound as the sink
# renders ahead, up to 2 s at the default latency (tests/air shows it).
parec -d @DEFAULT_MONITOR@ --file-format=wav --latency-msec=1 "$out/recording.wav" &
rec_pid=$!
sleep 0.5
xdotool mousemove --window "$app_win" $(( (2400 + 427) / 15 )) $(( (1200 + 127) / 15 )) click 1
keyed=0
for _ in $(seq 1 50); do grep -q ' SetPtt -1$' "$trace" && { keyed=1; break; }; sleep 0.1; done
sleep 1
import -window root "$out/screenshot-playing.png"
if [[ $keyed -eq 1 ]]; then
  # The end of the file lists the node free and unkeys it.
  for _ in $(seq 1 600); do
    sed -n '/ SetPtt -1$/,$p' "$trace" | grep -q ' SetPtt 0$' && break
    sleep 0.1
  done
fi
sleep 0.5
kill -INT "$rec_pid" 2>/dev/null || true
wait "$rec_pid" 2>/dev/null || true
rec_pid=""

"$build/tarnwick-nodesim" --ctl close >/dev/null 2>&1 || true
wait "$app_pid" || true
app_pid=""
wait "$node_pid" 2>/dev/null || true
node_pid=""

echo
echo "Ran Tarnwick with the stand-in node on a virtual display."
echo "  screenshot:   $out/screenshot.png (and $out/screenshot-playing.png)"
echo "  node trace:   $trace"
echo "  recording:    $out/recording.wav (what was sent while \"Play\" transmitted)"
echo "  settings:     /var/lib/tarnwick/tarnwick.ini"

#!/usr/bin/env bash
# Runs a command with its own session services and cleans up after it:
#   --bus      a private session D-Bus (dbus-run-session)
#   --display  a private X server (Xvfb on a free display number)
#   --pulse    a private PulseAudio server whose only sink is a null sink
#              named "radio"; record what was played from radio.monitor.
#              The command gets PULSE_SERVER and PULSE_SINK pointing at it.
#   --pulse-idle the same server without the silent stream that keeps the
#              sink's latency low (below): its sink idles as a desktop's does
# Any of them may be given. Usage: with-session.sh [--bus] [--display] [--pulse|--pulse-idle] COMMAND...
set -euo pipefail
want_bus=0 want_display=0 want_pulse=0 keep_sink_busy=1
while [[ $# -gt 0 ]]; do
  case "$1" in
    --bus) want_bus=1; shift ;;
    --display) want_display=1; shift ;;
    --pulse) want_pulse=1; shift ;;
    --pulse-idle) want_pulse=1; keep_sink_busy=0; shift ;;
    *) break ;;
  esac
done

xvfb_pid=""
xvfb_log=""
pulse_pid=""
pulse_keepalive_pid=""
pulse_dir=""
runtime_dir=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    # As for the sound server below: a display gone early is said so.
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "with-session: the private X server ended early; its log ends:" >&2
      tail -20 "$xvfb_log" >&2 || true
    fi
    kill "$xvfb_pid" 2>/dev/null || true
  fi
  [[ -n "$xvfb_log" ]] && rm -f "$xvfb_log" || true
  [[ -n "$pulse_keepalive_pid" ]] && kill "$pulse_keepalive_pid" 2>/dev/null || true
  if [[ -n "$pulse_pid" ]]; then
    # A server that ended before the command did took the sound with it:
    # say why, or the command's own complaint is all there is to go on.
    if ! kill -0 "$pulse_pid" 2>/dev/null; then
      echo "with-session: the private PulseAudio server ended early; its log ends:" >&2
      tail -20 "$pulse_dir/log" >&2 || true
    fi
    kill "$pulse_pid" 2>/dev/null || true
    wait "$pulse_pid" 2>/dev/null || true
  fi
  [[ -n "$pulse_dir" ]] && rm -rf "$pulse_dir" || true
  [[ -n "$runtime_dir" ]] && rm -rf "$runtime_dir" || true
}
trap cleanup EXIT

# Qt wants a private runtime directory; root sessions here have none.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  runtime_dir=$(mktemp -d)
  chmod 0700 "$runtime_dir"
  export XDG_RUNTIME_DIR=$runtime_dir
fi

if [[ $want_display -eq 1 ]]; then
  for n in $(seq 90 140); do
    # A lock of a server that is starting, or of one killed while it started,
    # holds Xvfb up for seconds: such a number is passed over too.
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock || -e /tmp/.tX$n-lock ]] && continue
    xvfb_log=$(mktemp)
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$xvfb_log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.1
    done
    # The display is ours only if our server holds its lock: another session
    # that chose the same number a moment earlier has the socket up while our
    # server is still finding that out and ending.
    if kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]] &&
      [[ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" == "$xvfb_pid" ]]; then
      export DISPLAY=":$n"
      break
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    rm -f "$xvfb_log"
    xvfb_log=""
  done
  [[ -n "$xvfb_pid" ]] || { echo "with-session: could not start Xvfb" >&2; exit 1; }
  export QT_QPA_PLATFORM=xcb
fi

if [[ $want_pulse -eq 1 ]]; then
  pulse_dir=$(mktemp -d)
  chmod 0700 "$pulse_dir"
  # The server gets a home and runtime directory of its own, so that it
  # neither meets the user's own server (pid file, sockets) nor writes into
  # the user's configuration. Anonymous access on its private socket spares
  # both sides a cookie. It warns when run as root, and works.
  # No bus for it: two private servers would both claim the same bus name.
  # Its CPU limiter is off: on a loaded test machine it can end the server
  # in the middle of a test.
  HOME="$pulse_dir" XDG_RUNTIME_DIR="$pulse_dir" XDG_CONFIG_HOME="$pulse_dir/config" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$pulse_dir/no-bus" \
    pulseaudio --daemonize=no --exit-idle-time=-1 --use-pid-file=no --no-cpu-limit=yes -n \
      --load="module-null-sink sink_name=radio" \
      --load="module-native-protocol-unix socket=$pulse_dir/native auth-anonymous=1" \
      >"$pulse_dir/log" 2>&1 &
  pulse_pid=$!
  export PULSE_SERVER="unix:$pulse_dir/native" PULSE_SINK=radio PULSE_COOKIE="$pulse_dir/cookie"
  ready=0
  for _ in $(seq 1 100); do
    kill -0 "$pulse_pid" 2>/dev/null || break
    if pactl info >/dev/null 2>&1; then ready=1; break; fi
    sleep 0.1
  done
  if [[ $ready -ne 1 ]]; then
    echo "with-session: could not start PulseAudio:" >&2
    cat "$pulse_dir/log" >&2
    exit 1
  fi
  # Left alone, the null sink renders up to 2 s ahead whenever no client asks
  # for a low latency, so a new stream is heard (and its position moves) up
  # to 2 s late. A silent low-latency stream kept playing makes it keep time
  # like a sound card; silence mixed in adds nothing to what is recorded
  # from the monitor. That stream joins while the sink is suspended: joining
  # a running sink, it would leave the 2 s already rendered for the next
  # stream to wait out. One short play then shows the sink on time.
  if [[ $keep_sink_busy -eq 1 ]]; then
    pactl suspend-sink radio 1
    pacat --raw --latency-msec=50 /dev/zero >/dev/null 2>&1 &
    pulse_keepalive_pid=$!
    for _ in $(seq 1 100); do
      [[ -n "$(pactl list short sink-inputs 2>/dev/null)" ]] && break
      sleep 0.02
    done
    pactl suspend-sink radio 0
    head -c 52920 /dev/zero | pacat --raw --latency-msec=50 >/dev/null 2>&1 || true
  fi
fi

if [[ $want_bus -eq 1 ]]; then
  dbus-run-session -- "$@"
else
  "$@"
fi

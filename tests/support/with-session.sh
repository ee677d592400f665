#!/usr/bin/env bash
# Runs a command with its own session services and cleans up after it:
#   --bus      a private session D-Bus (dbus-run-session)
#   --display  a private X server (Xvfb on a free display number)
# Both may be given. Usage: with-session.sh [--bus] [--display] COMMAND...
set -euo pipefail
want_bus=0 want_display=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --bus) want_bus=1; shift ;;
    --display) want_display=1; shift ;;
    *) break ;;
  esac
done

xvfb_pid=""
runtime_dir=""
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
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
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]]; then
      export DISPLAY=":$n"
      break
    fi
    xvfb_pid=""
  done
  [[ -n "$xvfb_pid" ]] || { echo "with-session: could not start Xvfb" >&2; exit 1; }
  export QT_QPA_PLATFORM=xcb
fi

if [[ $want_bus -eq 1 ]]; then
  dbus-run-session -- "$@"
else
  "$@"
fi

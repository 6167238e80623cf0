#!/usr/bin/env bash
# Runs a command with an X display: the one in DISPLAY, or a private Xvfb started for it.
# Xvfb picks a free display number itself (-displayfd), so concurrent runs never share or steal one.
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
# GNUstep's pasteboard server (gpbs) is shared by every program of this user and bound to the
# display it was started on: one left from an earlier private display answers "port was
# invalidated". Start each private display with none, and take ours down with the display.
stop_pasteboard_server() { pkill -u "$(id -u)" -x gpbs 2>/dev/null || true; }
stop_pasteboard_server
fifo_dir=$(mktemp -d)
mkfifo "$fifo_dir/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$fifo_dir/displayfd" > "$fifo_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
cleanup() {
  stop_pasteboard_server
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$fifo_dir"
}
trap cleanup EXIT
display=""
read -r -t 30 display < "$fifo_dir/displayfd" || true
if [ -z "$display" ]; then
  echo "with-display: Xvfb did not start" >&2
  cat "$fifo_dir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"
"$@"

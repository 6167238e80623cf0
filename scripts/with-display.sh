#!/usr/bin/env bash
# Runs a command with an X display: the one in DISPLAY, or a private Xvfb started for it.
# Xvfb picks a free display number itself (-displayfd), so concurrent runs never share or steal one.
#
# A private display also gets GNUstep daemons of its own. GNUstep finds its pasteboard server
# (gpbs) and notification center (gdnc) by names kept in its temporary folder, which TEMP and TMP
# point at a folder made for this run; the two daemons are started here for the display and ended
# with it, by pid. The user's own daemons and displays are neither used nor touched.
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
# mktemp -d makes the folder mode 0700, which GNUstep requires of the folder holding its port names.
run_dir=$(mktemp -d)
mkfifo "$run_dir/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$run_dir/displayfd" > "$run_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
daemon_pids=()

# Ends what this run started: the daemons and Xvfb by the pids recorded here, then any process
# that still carries this run's folder in its environment (a daemon that a program of the run
# started itself, or a child a program left behind), which can only have come from this run.
cleanup() {
  local pid
  unset DB_DISPLAY_RUN
  for pid in "${daemon_pids[@]}" "$xvfb_pid"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${daemon_pids[@]}" "$xvfb_pid"; do wait "$pid" 2>/dev/null || true; done
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [ "$pid" = "$$" ] && continue
    if tr '\0' '\n' 2>/dev/null < "$environ" | grep -qxF "DB_DISPLAY_RUN=$run_dir"; then
      echo "with-display: ending $(cat "/proc/$pid/comm" 2>/dev/null) ($pid), left running by this run" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$run_dir"
}
trap cleanup EXIT
# Ended by a signal (Ctrl-C, a timeout, a cancelled job), the script ends its command and cleans up
# too: bash runs the EXIT trap only when it exits, which these traps make it do.
command_pid=""
on_signal() {
  [ -z "$command_pid" ] || kill "$command_pid" 2>/dev/null || true
  exit "$1"
}
trap 'on_signal 129' HUP
trap 'on_signal 130' INT
trap 'on_signal 143' TERM

display=""
read -r -t 30 display < "$run_dir/displayfd" || true
if [ -z "$display" ]; then
  echo "with-display: Xvfb did not start" >&2
  cat "$run_dir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display" TEMP="$run_dir" TMP="$run_dir" DB_DISPLAY_RUN="$run_dir"

# The daemons register their names once they are ready; programs started before that would start
# daemons of their own.
# They read user defaults too: from a folder of this run's, never the user's ~/GNUstep.
names_dir="$run_dir/NSMessagePort/names"
daemon_env=()
while IFS= read -r setting; do daemon_env+=("$setting"); done \
  < <(bash "$(dirname "$0")/private-user-data.sh" "$run_dir/user-data")
env "${daemon_env[@]}" gpbs --no-fork > "$run_dir/gpbs.log" 2>&1 &
daemon_pids+=($!)
env "${daemon_env[@]}" gdnc --no-fork > "$run_dir/gdnc.log" 2>&1 &
daemon_pids+=($!)
for _ in $(seq 100); do
  [ "$(ls "$names_dir" 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
# In the background, so that a signal reaches the traps at once; standard input stays the script's.
"$@" <&0 &
command_pid=$!
wait "$command_pid"

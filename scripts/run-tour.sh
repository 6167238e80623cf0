#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the sample host's guided tour of every
# facility unattended. Prints the event log as it goes and leaves the screenshots and index.html in
# build/tour/ (TOUR_DIR). Extra arguments go to the host, e.g. -PlayerInteractive YES.
# Uses the display in DISPLAY, or a private Xvfb when there is none.
# Builds only the bundle and Player. What the tour keeps of its own (the files it moves to the
# Trash, the host's user defaults) stays in the output folder's user-data/, made anew for each run.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'EOF_USAGE'
usage: scripts/run-tour.sh [-Name value ...]
Installs the Debian packages that are missing, builds into build/ and runs the guided tour of
every facility in the sample host Player, unattended; exits 0 when every step passed.
Options go to the host as pairs, for example:
  -PlayerTourSteps "open-filter menu-bar"   run only these steps
  -PlayerInteractive YES                    the dialogs wait for you; Player stays open
Environment: BUILD_DIR (default build), TOUR_DIR (default BUILD_DIR/tour), DISPLAY (none: a
private Xvfb). -h, --help: print this and quit. The tour's Trash and user defaults are its own,
in TOUR_DIR/user-data (on macOS the Trash is the user's: see the README).
EOF_USAGE
  local player=${BUILD_DIR:-build}/Player.app/Player
  if [ -x "$player" ]; then
    "$player" --help | sed -n '/^The tour/,$p'
  else
    echo "The step names are listed here once Player is built (bash scripts/build.sh)."
  fi
}
# Host options come as -Name value pairs; anything else (a bare word would be taken for a file to
# open, --name is no option of the host) is refused before anything is installed or built.
args=("$@")
for ((i = 0; i < ${#args[@]}; i += 2)); do
  case "${args[i]}" in
    -h | --help) usage; exit 0 ;;
    --* | -) echo "run-tour.sh: unknown option ${args[i]}" >&2; usage >&2; exit 2 ;;
    -?*) [ $((i + 1)) -lt ${#args[@]} ] || { echo "run-tour.sh: ${args[i]} needs a value" >&2; usage >&2; exit 2; } ;;
    *) echo "run-tour.sh: unexpected argument ${args[i]}" >&2; usage >&2; exit 2 ;;
  esac
done
bash scripts/install-deps.sh
TARGETS="DesktopBridge Player" bash scripts/build.sh
build_dir=${BUILD_DIR:-build}
tour_dir=$(mkdir -p "${TOUR_DIR:-$build_dir/tour}" && cd "${TOUR_DIR:-$build_dir/tour}" && pwd)
# The tour's own Trash and user defaults (scripts/private-user-data.sh), made anew for each run.
user_data=$(bash scripts/private-user-data.sh "$tour_dir/user-data")
while IFS= read -r variable; do export "${variable?}"; done <<< "$user_data"
# A file for the system to ask the host to open at launch.
mkdir -p "$tour_dir/launch"
printf '#EXTM3U\nSunrise.mp3\n' > "$tour_dir/launch/Welcome.m3u"
gui_args=()
# Without a window manager GNUstep waits for one unless it draws the decorations itself.
[ -n "${DISPLAY:-}" ] || gui_args=(-GSX11HandlesWindowDecorations NO)
bash scripts/with-display.sh timeout -s KILL 600 "$build_dir/Player.app/Player" "${gui_args[@]}" \
  -PlayerTour YES -PlayerTourOutput "$tour_dir" -GSFilePath "$tour_dir/launch/Welcome.m3u" "$@"

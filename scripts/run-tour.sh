#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the sample host's guided tour of every
# facility unattended. Prints the event log as it goes and leaves the screenshots and index.html in
# build/tour/ (TOUR_DIR). Extra arguments go to the host, e.g. -PlayerInteractive YES.
# Uses the display in DISPLAY, or a private Xvfb when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
build_dir=${BUILD_DIR:-build}
tour_dir=$(mkdir -p "${TOUR_DIR:-$build_dir/tour}" && cd "${TOUR_DIR:-$build_dir/tour}" && pwd)
# A file for the system to ask the host to open at launch.
mkdir -p "$tour_dir/launch"
printf '#EXTM3U\nSunrise.mp3\n' > "$tour_dir/launch/Welcome.m3u"
gui_args=()
# Without a window manager GNUstep waits for one unless it draws the decorations itself.
[ -n "${DISPLAY:-}" ] || gui_args=(-GSX11HandlesWindowDecorations NO)
bash scripts/with-display.sh timeout -s KILL 600 "$build_dir/Player.app/Player" "${gui_args[@]}" \
  -PlayerTour YES -PlayerTourOutput "$tour_dir" -GSFilePath "$tour_dir/launch/Welcome.m3u" "$@"

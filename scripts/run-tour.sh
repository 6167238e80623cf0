#!/usr/bin/env bash
# The main job: installs what is missing, builds, and starts the sample host, which loads
# DesktopBridge and prints its event log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
build_dir=${BUILD_DIR:-build}
bash scripts/with-display.sh timeout -s KILL 300 "$build_dir/Player.app/Player" \
  -GSX11HandlesWindowDecorations NO -PlayerQuitAfterLaunch YES "$@"

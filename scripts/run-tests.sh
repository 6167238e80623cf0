#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test under a display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
bash ../scripts/with-display.sh ctest --output-on-failure -j "${TEST_JOBS:-2}" "$@"

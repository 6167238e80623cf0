#!/usr/bin/env bash
# Configures and builds DesktopBridge, the sample host, the tests and the benchmarks, with warnings
# in our own code as errors (a plain CMake build leaves them warnings).
#   BUILD_DIR   where to build (default: build)
#   TARGETS     build only these targets, separated by blanks (default: all), e.g.
#               TARGETS="DesktopBridge Player" for the bundle and the sample host alone
#   further arguments are passed to cmake at configure time (e.g. -DDB_SANITIZE=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDB_WERROR=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" > "$build_dir.configure.log" 2>&1 ||
  { cat "$build_dir.configure.log"; exit 1; }
targets=()
read -r -a targets <<< "${TARGETS:-}"
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$build_dir" -j "$(nproc)"
fi

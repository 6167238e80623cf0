#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test under a display:
#   0. the macOS configure, simulated (scripts/check-apple-configure.sh), and the code the macOS
#      build compiles, checked for names macOS lacks and its C and C++ files compiled for Darwin
#      (scripts/check-darwin-compile.sh);
#   1. the sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer): the suite, the leak
#      checks and bounded fuzz runs over the committed corpus;
#   2. the ThreadSanitizer build: the test programs that use threads (label "threads");
#   3. the normal build: the suite.
# SKIP_SANITIZERS=1 runs only the normal build; FUZZ_SECONDS sets the time per fuzz target.
# Extra arguments go to every ctest run (e.g. -R Dialog, or -L nodisplay); --help lists them.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'EOF_USAGE'
usage: scripts/run-tests.sh [ctest options]
Installs the Debian packages that are missing, checks the simulated macOS configure and compiles
the plain C and C++ files for Darwin, then builds and runs the suite in build-asan/ (sanitizers,
leak checks, fuzzing), the threaded programs in build-tsan/ (ThreadSanitizer) and the suite in build/.
ctest options passed on to every run:
  -R REGEX, -E REGEX   only / not the tests whose names match (e.g. -R Dialog, -R host.MenuExportsTest)
  -L LABEL, -LE LABEL  only / not the tests with a label: unit, host, leak, gui, nodisplay,
                       threads, managed, install, scripts
  -V, -VV, --stop-on-failure, --timeout SECONDS, --repeat MODE:N
Environment: SKIP_SANITIZERS=1 (only build/), TEST_JOBS (1), RETRY (0), FUZZ_SECONDS (60).
-h, --help: print this and quit.
EOF_USAGE
}
# Only ctest's selection and reporting options are passed on; anything else is refused before
# anything is installed or built.
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    -h | --help) usage; exit 0 ;;
    -R | -E | -L | -LE | --timeout | --repeat)
      i=$((i + 1))
      [ "$i" -lt ${#args[@]} ] || { echo "run-tests.sh: ${args[i - 1]} needs a value" >&2; usage >&2; exit 2; } ;;
    -V | -VV | --stop-on-failure) ;;
    *) echo "run-tests.sh: unknown option ${args[i]}" >&2; usage >&2; exit 2 ;;
  esac
done
root=$(pwd)
bash scripts/install-deps.sh
bash scripts/check-apple-configure.sh
bash scripts/check-darwin-compile.sh

# GUI test programs share one X display, so they run one at a time by default (TEST_JOBS sets
# more; focus moves between concurrent programs). Each program runs once: RETRY=N gives a failing
# program up to N more runs (ctest reports every attempt).
retry=()
[ "${RETRY:-0}" -gt 0 ] && retry=(--repeat "until-pass:$((RETRY + 1))")

if [ "${SKIP_SANITIZERS:-0}" != "1" ]; then
  BUILD_DIR=build-asan bash scripts/build.sh -DDB_SANITIZE=ON -DDB_BUILD_BENCH=OFF
  # Leaks are checked by the leak.* tests alone, which fail on any leak of ours; elsewhere
  # LeakSanitizer would report GNUstep's process-lifetime caches at every exit.
  export ASAN_OPTIONS=detect_leaks=0:strict_string_checks=1:detect_stack_use_after_return=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$root/tests/sanitizers/ubsan.supp
  (cd build-asan && bash "$root/scripts/with-display.sh" ctest --output-on-failure -j "${TEST_JOBS:-1}" ${retry[@]+"${retry[@]}"} "$@")
  BUILD_DIR=build-asan bash scripts/with-display.sh bash scripts/run-fuzz.sh
  unset ASAN_OPTIONS UBSAN_OPTIONS
fi

# ThreadSanitizer: the bundle and only the test programs that run it on several threads. Reports
# inside the platform's own uninstrumented libraries are suppressed in tests/sanitizers/tsan.supp;
# any report in our code fails the program (exit status 66). Reports go to files, not to the
# programs' standard error, which some tests read; they are printed after the run.
if [ "${SKIP_SANITIZERS:-0}" != "1" ]; then
  BUILD_DIR=build-tsan bash scripts/build.sh -DDB_SANITIZE_THREAD=ON -DDB_BUILD_BENCH=OFF
  rm -rf build-tsan/tsan-reports && mkdir -p build-tsan/tsan-reports
  tsan_status=0
  (cd build-tsan && DB_TEST_TIME_SCALE=4 TSAN_OPTIONS="exitcode=66:ignore_noninstrumented_modules=1:\
log_path=$root/build-tsan/tsan-reports/report:suppressions=$root/tests/sanitizers/tsan.supp" \
    bash "$root/scripts/with-display.sh" ctest --output-on-failure -L threads -j "${TEST_JOBS:-1}" \
    ${retry[@]+"${retry[@]}"} "$@") || tsan_status=$?
  for report in build-tsan/tsan-reports/report*; do if [ -e "$report" ]; then cat "$report"; fi; done
  [ "$tsan_status" = 0 ] || exit "$tsan_status"
fi

bash scripts/build.sh
cd build
bash "$root/scripts/with-display.sh" ctest --output-on-failure -j "${TEST_JOBS:-1}" ${retry[@]+"${retry[@]}"} "$@"

#!/usr/bin/env bash
# The scripts and the tour explain themselves: --help prints the usage and exits 0 before anything
# is installed or built, an unknown option is refused with the usage, and the tour refuses a step
# name that does not exist, listing the steps.
#   options.sh PLAYER_EXECUTABLE
set -uo pipefail
source_root=$(cd "$(dirname "$0")/../.." && pwd)
player=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "options: $*" >&2; failures=$((failures + 1)); }

# Stand-ins for every tool the scripts install or build with: a call leaves a mark.
mkdir "$work/bin"
for tool in apt-get sudo dpkg-query cmake ctest clang clang++ make Xvfb; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/called"\nexit 1\n' "$tool" "$work" > "$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

# run SCRIPT ARGS...: sets status, out and err.
run() {
  PATH="$work/bin:$PATH" BUILD_DIR="$work/no-build" bash "$source_root/scripts/$1" "${@:2}" \
    > "$work/out" 2> "$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

for script in run-tests.sh run-tour.sh; do
  for help in --help -h; do
    run "$script" "$help"
    [ "$status" -eq 0 ] || fail "$script $help exited $status"
    grep -q "^usage: scripts/$script" <<<"$out" || fail "$script $help printed no usage: $out"
  done
  run "$script" --no-such-option
  [ "$status" -ne 0 ] || fail "$script --no-such-option was accepted"
  grep -q "unknown option --no-such-option" <<<"$err" || fail "$script did not name the unknown option: $err"
  grep -q "^usage: scripts/$script" <<<"$err" || fail "$script did not print its usage on refusal"
done
run run-tests.sh -R
[ "$status" -ne 0 ] || fail "run-tests.sh -R without its value was accepted"
run run-tour.sh stray-word
[ "$status" -ne 0 ] || fail "run-tour.sh took a bare word (the host would open it as a file)"
[ ! -e "$work/called" ] || fail "usage and refusals ran tools: $(cat "$work/called")"
[ ! -e "$work/no-build" ] || fail "usage and refusals created the build folder"

# The tour: --help lists the steps; an unknown step is refused with the list, before any window.
help=$("$player" --help)
[ $? -eq 0 ] || fail "Player --help failed"
steps=$(sed -n '/^The tour/,$p' <<<"$help" | awk 'NR > 1 {print $1}')
[ "$(wc -l <<<"$steps")" -ge 10 ] || fail "Player --help lists too few steps: $steps"
for step in open-filter menu-bar; do
  grep -qx "$step" <<<"$steps" || fail "Player --help does not list $step"
done
refused=$("$player" -PlayerTour YES -PlayerTourSteps "open-filter no-such-step" 2>&1 > /dev/null)
status=$?
[ "$status" -ne 0 ] || fail "the tour with an unknown step exited 0"
grep -q "no tour step named no-such-step" <<<"$refused" || fail "the refusal does not name the step: $refused"
grep -q "open-filter" <<<"$refused" || fail "the refusal does not list the steps"

[ "$failures" -eq 0 ] || { echo "options: $failures check(s) failed" >&2; exit 1; }
echo "options: usage, refusals and the tour's step check behave"

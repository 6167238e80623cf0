#!/usr/bin/env bash
# Runs a program of the sanitizer build with LeakSanitizer on and fails when any leak report has
# a frame in the plug-in's own sources. GNUstep, the object runtime, X11 and fontconfig keep
# process-lifetime caches that LeakSanitizer reports at exit; those reports carry none of our
# frames, or only frames of the image-load hook, and are listed only as a count.
#   check-leaks.sh PROGRAM [ARGS...]
set -uo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
log_dir=$(mktemp -d)
# fast_unwind_on_malloc=0: GNUstep's libraries have no frame pointers, so only the slow unwinder
# reaches our frames above their allocation calls.
# That unwinding makes every allocation slow: test programs stretch their waits accordingly.
DB_TEST_TIME_SCALE=${DB_TEST_TIME_SCALE:-6} \
ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=40:log_path=$log_dir/lsan:exitcode=0" \
  "$@"
status=$?
if [ $status -ne 0 ]; then
  echo "check-leaks: $1 exited with $status"
  cat "$log_dir"/lsan* 2>/dev/null | head -n 80
  rm -rf "$log_dir"
  exit $status
fi
ours=$(cat "$log_dir"/lsan* 2>/dev/null | python3 -c '
import re, sys
root = sys.argv[1]
ours_dirs = tuple(root + "/" + d + "/" for d in ("plugin", "dialogs", "swizzler", "override", "menu", "platform"))
blocks, current = [], []
for line in sys.stdin:
    if re.match(r"^(Direct|Indirect) leak of", line):
        if current: blocks.append(current)
        current = [line]
    elif current:
        if line.strip() == "":
            blocks.append(current); current = []
        else:
            current.append(line)
if current: blocks.append(current)
# Allocations made while an image loads (under __objc_exec_class: our +load grafts, whose first
# NSLog and class lookups fill one-time caches of GNUstep) happen once per process, not per request.
at_load = lambda b: any("__objc_exec_class" in l for l in b)
mine = [b for b in blocks if any(d in l for l in b for d in ours_dirs) and not at_load(b)]
print(len(blocks), len(mine))
for b in mine[:20]:
    sys.stderr.write("".join(b) + "\n")
' "$source_root")
total=${ours%% *}
mine=${ours##* }
rm -rf "$log_dir"
echo "check-leaks: $(basename "$1"): ${total:-0} leak reports at exit, ${mine:-0} with frames of ours"
[ "${mine:-0}" = "0" ]

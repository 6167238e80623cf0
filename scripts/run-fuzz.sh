#!/usr/bin/env bash
# Runs every fuzz target of a sanitizer build for a bounded time over its committed corpus.
#   BUILD_DIR      the sanitizer build (default: build-asan)
#   FUZZ_SECONDS   time per target (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-asan}
seconds=${FUZZ_SECONDS:-60}
status=0
shopt -s nullglob
for target in "$build_dir"/fuzz/fuzz_*; do
  name=$(basename "$target")
  name=${name#fuzz_}
  corpus=tests/fuzz/corpus/$name
  scratch=$(mktemp -d)
  mkdir -p "$corpus"
  echo "fuzz $name: ${seconds}s over $(ls "$corpus" | wc -l) corpus inputs"
  # New inputs go to the scratch folder; the committed corpus is only read.
  if ! ASAN_OPTIONS=detect_leaks=0 "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="$scratch/" "$scratch" "$corpus" > "$scratch/log" 2>&1; then
    echo "fuzz $name: FAILED"; tail -n 60 "$scratch/log"; status=1
  else
    grep -E '^#[0-9]+.*DONE|Done [0-9]+ runs' "$scratch/log" | tail -n 1 || true
  fi
  rm -rf "$scratch"
done
exit $status

#!/usr/bin/env bash
# Runs the threaded test suites again and again under ThreadSanitizer with a CPU hog
# beside them (one busy process per core), to show they wait for conditions and not
# for time: any failure stops the loop. Usage: tests/flake_check.sh [RUNS] (default 10).
# Needs build-tsan/ (./test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
threaded=$(grep -Eo "threaded='[^']+'" test.sh | cut -d"'" -f2)
hogs=()
stop_hogs() { for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_hogs EXIT
for _ in $(seq "$(nproc)"); do
  sh -c 'while :; do :; done' &
  hogs+=("$!")
done
for run in $(seq "$runs"); do
  start=$(date +%s)
  TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
    ./build-tsan/tests/orva_tests --gtest_filter="$threaded" --gtest_brief=1 >"${TMPDIR:-/tmp}/orva-flake-$$.log" 2>&1 ||
    { tail -40 "${TMPDIR:-/tmp}/orva-flake-$$.log"; echo "run $run of $runs failed"; rm -f "${TMPDIR:-/tmp}/orva-flake-$$.log"; exit 1; }
  echo "run $run of $runs passed in $(( $(date +%s) - start )) s, beside $(nproc) busy processes"
done
rm -f "${TMPDIR:-/tmp}/orva-flake-$$.log"

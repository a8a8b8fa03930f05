#!/usr/bin/env bash
# Runs the threaded tests (those labelled "threaded") again and again under
# ThreadSanitizer beside one busy process per core, to show they wait for conditions
# and not for time: any failure stops the loop. Usage: tests/flake_check.sh [RUNS]
# (default 10). Needs build-tsan/ (./test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
  exec tests/with-load.sh 1 ctest --test-dir build-tsan -L threaded --output-on-failure -j "$(nproc)" \
  --repeat until-fail:"$runs"

#!/usr/bin/env bash
# Runs a command beside busy processes, as a loaded desktop has them: PER_CORE
# spinning processes for each core, started here and stopped by their pids when the
# command ends, however it ends.
#
#   tests/with-load.sh PER_CORE COMMAND [ARGUMENTS...]
set -u
per_core=$1
shift
pids=()
stop() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; wait "${pids[@]}" 2>/dev/null; }
trap stop EXIT
trap 'exit 130' INT TERM
for _ in $(seq $((per_core * $(nproc)))); do
  (trap - EXIT; while :; do :; done) >/dev/null 2>&1 &
  pids+=("$!")
done
echo "with-load: ${#pids[@]} busy processes beside: $*" >&2
"$@"

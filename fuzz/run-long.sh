#!/usr/bin/env bash
# Runs every fuzz target for a long time, one after another: an hour each unless told
# otherwise (fuzz/run-long.sh SECONDS). Each starts from a copy of its corpus in fuzz/
# inside a temporary folder of its own; at the end a line per target gives the
# executions, the coverage (edges and features), how the corpus grew and the crashes
# found. Logs, grown corpora and crash inputs stay in that folder (named at the end)
# so new corpus entries can be copied into fuzz/ and crashes turned into tests.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
targets="catalogue:corpus-catalogue plist:corpus-plist h264:corpus-h264 audio:corpus-audio movie_probe:corpus-movie movie_repair:corpus-repair"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DORVA_BUILD_FUZZ=ON -DORVA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target $(for t in $targets; do printf 'fuzz_%s ' "${t%%:*}"; done) -- --quiet >&2

out=$(mktemp -d /tmp/orva-fuzz-long-XXXXXX)
echo "fuzzing each target for $seconds s; logs in $out" >&2
for target in $targets; do
  name=${target%%:*}
  corpus="$out/$name-corpus"
  mkdir -p "$corpus"
  cp "fuzz/${target#*:}"/* "$corpus"/
  before=$(ls "$corpus" | wc -l)
  leaks=1; [ "$name" = movie_repair ] && leaks=0 # libavformat's own leaks on damaged input
  ./build-fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=30 \
    -detect_leaks=$leaks \
    -print_final_stats=1 -artifact_prefix="$out/$name-" "$corpus" >"$out/$name.log" 2>&1 || true
  done_line=$(grep -E '#[0-9]+[[:space:]]+DONE' "$out/$name.log" | tail -1)
  execs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$out/$name.log" | grep -Eo '[0-9]+$' || echo 0)
  cov=$(grep -Eo 'cov: [0-9]+' <<<"$done_line" | grep -Eo '[0-9]+' || echo "?")
  ft=$(grep -Eo 'ft: [0-9]+' <<<"$done_line" | grep -Eo '[0-9]+' || echo "?")
  crashes=$(ls "$out" | grep -cE "^$name-(crash|leak|timeout|oom)-" || true)
  printf '%-12s %12s executions  cov %6s  ft %7s  corpus %4s -> %-5s  crashes %s\n' \
    "$name" "$execs" "$cov" "$ft" "$before" "$(ls "$corpus" | wc -l)" "$crashes"
done
echo "logs, grown corpora and crash inputs: $out"

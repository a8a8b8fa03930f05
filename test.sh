#!/usr/bin/env bash
# Runs the whole test suite: the normal build, then the same tests under
# AddressSanitizer+UndefinedBehaviorSanitizer, then the threaded tests under
# ThreadSanitizer. `./test.sh quick` runs the normal build only.
# ORVA_TEST_LOAD=N runs it all beside N busy processes per core (a loaded desktop).
set -euo pipefail
cd "$(dirname "$0")"
if [ -n "${ORVA_TEST_LOAD:-}" ] && [ -z "${ORVA_UNDER_LOAD:-}" ]; then
  ORVA_UNDER_LOAD=1 exec tests/with-load.sh "$ORVA_TEST_LOAD" "$0" "$@"
fi
./setup.sh

mode=${1:-all}
jobs=$(nproc)

echo "== tests (Release)"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== benchmarks, one short pass each (the figures are for reading, not checked)"
ORVA_BENCH_SHORT=1 ./build/bench/orva_bench --benchmark_min_time=0.01 --benchmark_filter='-(PipeWire|PreviewWindow)' \
  2>/dev/null | grep -E '^(machine|BM_)'
# The preview window needs a display: a private X server, stopped when the run ends.
ORVA_BENCH_SHORT=1 xvfb-run -a -s "-screen 0 1920x1080x24" ./build/bench/orva_bench --benchmark_filter=PreviewWindow \
  2>/dev/null | grep -E '^BM_'
# The microphone beside pw-record needs a PipeWire daemon: a private one.
ORVA_BENCH_SHORT=1 tests/pipewire/with-pipewire.sh ./build/bench/orva_bench --benchmark_filter=PipeWire 2>/dev/null |
  grep -E '^BM_'
[ "$mode" = quick ] && exit 0

echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVA_WERROR=ON \
  -DORVA_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -- --quiet
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVA_WERROR=ON \
  -DORVA_SANITIZE=thread >/dev/null
# The tests labelled "threaded" (tests/CMakeLists.txt names their suites).
cmake --build build-tsan --target orva_tests orva_system_tests -- --quiet
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-tsan -L threaded --output-on-failure -j "$jobs"

echo "== fuzzing each target briefly (libFuzzer, clang; fuzz/run-long.sh runs them for an hour)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DORVA_BUILD_FUZZ=ON -DORVA_BUILD_TESTS=OFF >/dev/null
targets="catalogue:corpus-catalogue plist:corpus-plist h264:corpus-h264 audio:corpus-audio movie_probe:corpus-movie movie_repair:corpus-repair"
cmake --build build-fuzz --target $(for t in $targets; do printf 'fuzz_%s ' "${t%%:*}"; done) -- --quiet
for target in $targets; do
  name=${target%%:*}
  work=$(mktemp -d)
  mkdir "$work/corpus"
  cp "fuzz/${target#*:}"/* "$work/corpus"/
  # libavformat's mov reader leaks a few bytes on some damaged inputs (not ours to fix):
  # the repair target checks everything else.
  leaks=1; [ "$name" = movie_repair ] && leaks=0
  (cd "$work" && "$OLDPWD/build-fuzz/fuzz/fuzz_$name" -max_total_time=8 -max_len=8192 -rss_limit_mb=1024 \
    -timeout=30 -detect_leaks=$leaks corpus 2>&1 | tail -1) || { echo "fuzz_$name failed; its input is in $work"; exit 1; }
  rm -rf "$work"
done
echo "all test runs passed"

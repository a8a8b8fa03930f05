#!/usr/bin/env bash
# What a host developer gets from `cmake --install`: the installed CLI runs without
# LD_LIBRARY_PATH and finds its resources; every public header compiles alone with
# nothing but the installed include folder; the examples build from the prefix alone
# through pkg-config and through find_package, and run against the simulated devices;
# liborva runs on a capture library that exports only the ABI.
#
#   tests/install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orva-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > /dev/null
for f in lib/liborva.so.1 lib/orva-1/Libraries/libzedederadIvo.so.1 include/orva-1/orva/OrvaDeviceManager.h \
         include/orva-1/orva/OrvaVersion.h include/orva-1/zedederadIvo.h lib/pkgconfig/orva.pc \
         lib/pkgconfig/zedederadIvo.pc lib/cmake/Orva/OrvaConfig.cmake share/orva/DeviceNames.plist \
         share/orva/Resolutions.xml bin/orva share/man/man1/orva.1 share/bash-completion/completions/orva; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
if command -v doxygen >/dev/null; then
  [ -e "$prefix/share/doc/orva/api/index.html" ] || fail "the API documentation is not installed under share/doc/orva"
fi

# The manual page renders without a warning and names every command; the completion
# completes commands, options and words.
warnings=$(groff -man -ww -z "$prefix/share/man/man1/orva.1" 2>&1)
[ -z "$warnings" ] || fail "orva.1: $warnings"
for c in $("$prefix/bin/orva" --help | awk '/^commands:/{on=1; next} on && /^  [a-z]/{print $1}'); do
  grep -q "^\.SS \"orva $c" "$prefix/share/man/man1/orva.1" || fail "orva.1 does not describe orva $c"
done
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _orva; echo "${COMPREPLY[*]}"' \
    _ "$prefix/share/bash-completion/completions/orva" "$@"
}
[ "$(complete_words orva rec)" = record ] || fail "completion of orva rec: $(complete_words orva rec)"
[ "$(complete_words orva capture --fp)" = --fps ] || fail "completion of orva capture --fp"
[ "$(complete_words orva ptz u)" = up ] || fail "completion of orva ptz u"
echo "liborva exports $(nm -D --defined-only "$prefix/lib/liborva.so.1" | wc -l) dynamic symbols"

# The installed CLI: no LD_LIBRARY_PATH, resources from share/orva.
env -u LD_LIBRARY_PATH "$prefix/bin/orva" --version | grep -qx "orva [0-9.]*" || fail "orva --version"
env -u LD_LIBRARY_PATH ORVA_SIMULATE=1 "$prefix/bin/orva" devices | grep -q "Orva Virtual Camera" \
  || fail "the installed orva does not name the virtual camera from its resources"
env -u LD_LIBRARY_PATH "$prefix/bin/orva" catalogue > /dev/null || fail "the installed orva has no sample catalogue"

# Each public header on its own, with only the installed include folder (no
# third-party include path: a header that needs one fails here), with GCC and clang.
for compiler in g++ clang++; do
  for header in "$prefix"/include/orva-1/orva/*.h; do
    echo "#include <orva/$(basename "$header")>" |
      "$compiler" -std=c++20 -Wall -Wextra -pedantic -Werror -fsyntax-only -I"$prefix/include/orva-1" -x c++ - ||
      fail "$(basename "$header") does not compile on its own with $compiler"
  done
done

# The examples, from the prefix alone: pkg-config (with GCC and clang), then find_package.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
mkdir -p "$work/pkg-config"
for example in devices record meter; do
  for compiler in g++ clang++; do
    # shellcheck disable=SC2046
    "$compiler" -std=c++20 -Wall -Wextra -pedantic -Werror "$source/examples/$example.cpp" \
      $(pkg-config --cflags --libs orva) -o "$work/pkg-config/orva-example-$example-$compiler"
  done
  cp "$work/pkg-config/orva-example-$example-clang++" "$work/pkg-config/orva-example-$example"
done
cmake -S "$source/examples" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/cmake" > /dev/null
for built in pkg-config cmake; do
  run() { env LD_LIBRARY_PATH="$prefix/lib" ORVA_SIMULATE=1 "$work/$built/orva-example-$1" "${@:2}"; }
  run devices 0.5 | grep -q "Cameras: 1" || fail "$built devices example"
  run record "$work/$built.mov" 1 | grep -q "done:" || fail "$built record example"
  [ -s "$work/$built.mov" ] || fail "$built record example wrote no movie"
  run meter 1 | grep -q "dB" || fail "$built meter example"
done

# liborva needs nothing of the simulator, and runs on an implementation of the ABI
# alone (the system one built without the simulator, which exports only the ABI).
if nm -D --undefined-only "$build/liborva.so" | grep -q ZISim; then fail "liborva needs simulator symbols"; fi
extra=$(nm -D --defined-only "$build/abi-only/libzedederadIvo.so.1" | awk '{print $3}' | grep -Ev '^(VCI|ACI)_' || true)
[ -z "$extra" ] || fail "the ABI-only library exports more than the ABI: $extra"
env LD_LIBRARY_PATH="$build/abi-only:$prefix/lib" "$work/cmake/orva-example-devices" | grep -q "^Cameras: " \
  || fail "the devices example does not run on the ABI-only library"
echo "install test: ok"

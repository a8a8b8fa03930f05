#!/usr/bin/env bash
# Compares liborva's public ABI (the types and functions its installed headers
# declare, read from the library's debug information) with the committed baseline,
# abi/liborva.abi. An incompatible change (a member, size or layout of a public type,
# a removed or changed function) fails; additions pass and are listed, so that the
# baseline can be brought up to date on purpose:
#
#   tests/abi_check.sh BUILD_DIR            check
#   tests/abi_check.sh BUILD_DIR --update   write the baseline from the build
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
baseline="$source/abi/liborva.abi"
library="$build/liborva.so.1"
command -v abidiff >/dev/null || { echo "abi check: abidiff is missing (apt-get install abigail-tools)"; exit 1; }
[ -e "$library" ] || { echo "abi check: no $library"; exit 1; }
# The public ABI of a built library, written the same way for the baseline and for
# the check (so that the two are read alike).
dump() {
  abidw --headers-dir "$source/include/orva" --drop-private-types --drop-undefined-syms --exported-interfaces-only \
    --no-show-locs --no-corpus-path --no-elf-needed --out-file "$1" "$library"
}
if [ "${2:-}" = --update ]; then
  dump "$baseline"
  echo "abi check: baseline written to abi/liborva.abi"
  exit 0
fi
current=$(mktemp "${TMPDIR:-/tmp}/liborva-abi-XXXXXX")
trap 'rm -f "$current"' EXIT
dump "$current"
set +e
report=$(abidiff --no-show-locs "$baseline" "$current")
status=$?
set -e
# abidiff's status is a bit set: 1 error, 2 usage, 4 ABI change, 8 incompatible change.
# A change counts as incompatible when anything was removed or changed (a public
# type's size or layout included); functions and variables only added pass.
if (( status & 3 )); then
  echo "abi check: abidiff failed ($status):"; echo "$report"; exit 1
fi
changed=$( (grep -Eo '[0-9]+ (Removed|Changed)' <<<"$report" || true) | awk '{n += $1} END {print n + 0}')
if (( status & 8 )) || (( changed > 0 )); then
  echo "abi check: an incompatible change to liborva's public ABI (against abi/liborva.abi):"
  echo "$report" | sed 's/^/  /'
  exit 1
fi
if (( status & 4 )); then
  echo "abi check: compatible additions (tests/abi_check.sh BUILD --update records them):"
  echo "$report" | sed 's/^/  /'
else
  echo "abi check: liborva's public ABI is the baseline's"
fi

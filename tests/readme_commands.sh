#!/usr/bin/env bash
# Runs every orva command line that README.md shows, in order, in a fresh folder on the
# built-in virtual devices, and fails if any of them does not exit 0. (The benchmark's
# line runs in test.sh's benchmark step; setup and the tests are what run this.)
# Usage: readme_commands.sh README.md BUILD_DIR
set -uo pipefail
readme=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export ORVA_SIMULATE=1
failures=0 count=0
while IFS= read -r line; do
  command=${line#    }
  command=${command#./setup.sh && }
  case "$command" in build/orva*) ;; *) continue ;; esac
  command=${command%%  #*} # the comment after the command
  count=$((count + 1))
  if bash -c "${command/build\/orva/\"$build/orva\"}" >"$work/out" 2>&1; then
    echo "ok   $command"
  else
    echo "FAIL $command (exit $?):"
    tail -8 "$work/out" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
done < <(grep -E '^    (\./setup\.sh && )?build/' "$readme")
[ "$count" -gt 10 ] || { echo "FAIL found only $count command lines in $readme"; exit 1; }
[ "$failures" -eq 0 ] && echo "all $count README command lines ran" || { echo "$failures of $count failed"; exit 1; }

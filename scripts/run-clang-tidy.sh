#!/usr/bin/env bash
# clang-tidy with the repository's .clang-tidy over our own sources (core, platform, views, cli,
# app, fuzz, bench), using the compile commands of a build folder configured for it.
#
# Usage: scripts/run-clang-tidy.sh [FILE-REGEX]
# Exit status: 0 clean, 1 findings or a file that could not be read. About 4 minutes on an idle
# two-core machine.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tidy
filter=${1:-"$PWD"'/(core|platform|views|cli|app|fuzz|bench)/.*\.cpp$'}

run_clang_tidy=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
if [ -z "$run_clang_tidy" ] || ! command -v clang++ >/dev/null; then
  echo "clang-tidy: run-clang-tidy or clang++ missing (scripts/install-dependencies.sh)" >&2
  exit 1
fi

# The compile commands come from clang itself: GCC's own warning options would each be an
# unknown-option error to clang-tidy. With clang the fuzz targets can be configured too; the
# tests are left out (GoogleTest's macros trip several checks by design). Nothing is built: our
# sources include no generated file but the build configuration, written at configure time, and
# no moc output.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DVARNELO_BUILD_TESTS=OFF -DVARNELO_BUILD_BENCHMARKS=ON -DVARNELO_BUILD_FUZZERS=ON >/dev/null

report="$build/clang-tidy.log"
started=$SECONDS
status=0
"$run_clang_tidy" -quiet -p "$build" -j 2 "$filter" 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >"$report" ||
  status=$?
elapsed="$((SECONDS - started)) s"

findings=$(grep -E '^/.*: (warning|error|fatal error): ' "$report" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "clang-tidy: $(echo "$findings" | wc -l) finding(s) in $elapsed; details in $report"
  exit 1
fi
if [ "$status" -ne 0 ] || grep -qE 'error:|Error while processing' "$report"; then
  # clang-tidy could not read a file at all (missing header, bad command line).
  grep -m5 -E 'error:|Error while processing' "$report" || true
  echo "clang-tidy: could not check every file; details in $report"
  exit 1
fi
checked=$(grep -c '^clang-tidy' "$report" || true)
echo "clang-tidy: clean ($checked files checked in $elapsed)"

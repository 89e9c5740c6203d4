#!/usr/bin/env bash
# clang-tidy with the repository's .clang-tidy over our own sources (core, platform, views, app,
# fuzz, bench), using the compile commands of a build folder configured for it.
#
# Usage: scripts/run-clang-tidy.sh [FILE-REGEX]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tidy
filter=${1:-"$PWD"'/(core|platform|views|app|fuzz|bench)/.*\.cpp$'}

# The tests are left out: GoogleTest's macros trip several checks by design. Nothing is built:
# our sources include no generated file but the build configuration, written at configure time.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNELO_BUILD_TESTS=OFF \
  -DVARNELO_BUILD_BENCHMARKS=ON >/dev/null
report="$build/clang-tidy.log"
run-clang-tidy -quiet -p "$build" -j 2 "$filter" 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >"$report" || true
findings=$(grep -E '^/.*: (warning|error): ' "$report" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "clang-tidy: $(echo "$findings" | wc -l) finding(s); details in $report"
  exit 1
fi
if grep -q 'error' "$report" && ! grep -qE '^/.*: (warning|error): ' "$report"; then
  # clang-tidy could not read a file at all (missing header, bad command line).
  grep -m5 'error' "$report"
  echo "clang-tidy: could not check every file; details in $report"
  exit 1
fi
echo "clang-tidy: clean ($(grep -c '"file"' "$build/compile_commands.json") files in the build)"

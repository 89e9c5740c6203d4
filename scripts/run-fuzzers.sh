#!/usr/bin/env bash
# Builds the libFuzzer targets with clang ("fuzz" preset) and runs each one for a bounded time,
# starting from its seed corpus. A crash leaves its input in build-fuzz/findings/<target>/:
# copy it to fuzz/regressions/<target>/ and the ordinary test suite replays it from then on.
#
# Usage: scripts/run-fuzzers.sh [SECONDS-PER-TARGET]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
build=build-fuzz

cmake --preset fuzz >/dev/null
cmake --build "$build" --target varnelo_fuzzers -j2

# Leaks in the uninstrumented libraries are not ours to chase here; the sanitizer test builds
# keep our own code leak-clean.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export XDG_CONFIG_HOME="$PWD/$build/fuzz-home/config" XDG_DATA_HOME="$PWD/$build/fuzz-home/data"
export LANGUAGE=en LC_ALL=C.UTF-8
# The files the targets write for their parsers, in memory where possible; gone at the end.
scratch_base=/dev/shm
[ -w "$scratch_base" ] || scratch_base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$scratch_base/varnelo-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

failed=()
for fuzzer in "$build"/bin/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  corpus="$build/corpus/$name"      # grows as the fuzzer finds new paths; seeds stay untouched
  findings="$build/findings/$name"
  mkdir -p "$corpus" "$findings"
  seeds=(fuzz/corpus/"$name")
  [ -d fuzz/regressions/"$name" ] && seeds+=(fuzz/regressions/"$name")
  printf '%-24s ' "$name"
  if "$fuzzer" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -artifact_prefix="$findings/" -print_final_stats=1 \
      >"$build/findings/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/findings/$name.log")
    echo "ok, ${runs:-?} runs in ${seconds} s"
  else
    echo "FAILED: see $build/findings/$name.log and $findings/"
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz targets with findings: ${failed[*]}"
  exit 1
fi

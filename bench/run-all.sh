#!/usr/bin/env bash
# Builds the program and the benchmarks optimised (build-bench) and runs every benchmark; each
# prints its own table, then one summary table follows. Asserts nothing. Needs root for the
# mount-based ones (they skip themselves otherwise) and Xvfb, trayer, xdotool for the desktop.
#
# Usage: bench/run-all.sh [IDLE-SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
idle=${1:-60}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNELO_BUILD_TESTS=OFF \
  -DVARNELO_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target varnelo-eject varnelo-eject-desktop discovery_bench \
  reaction_bench >/dev/null

log=$(mktemp)
trap 'rm -f "$log"' EXIT
section() { echo; echo "## $1"; }

section "Discovery pass (bench/discovery)"
"$build/bin/discovery_bench" | tee -a "$log"
section "Eject-all of 10 loop images (bench/eject_all.sh)"
bench/eject_all.sh "$build/bin/varnelo-eject" | tee -a "$log"
section "Listing from the command line (bench/list.sh)"
bench/list.sh "$build/bin/varnelo-eject" | tee -a "$log"
section "Reaction to a mount (bench/reaction)"
"$build/bin/reaction_bench" | tee -a "$log"
section "Desktop application (bench/desktop.sh)"
bench/desktop.sh "$build/bin/varnelo-eject" "$idle" | tee -a "$log"
section "Beside udiskie (bench/versus_udiskie.sh)"
bench/versus_udiskie.sh "$build/bin/varnelo-eject" | tee -a "$log"
section "A script's mounts and unmounts beside the desktop application (bench/mount_cycles.sh)"
bench/mount_cycles.sh "$build/bin/varnelo-eject" | tee -a "$log"

section "Summary ($(date -u +%Y-%m-%d), $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo))"
awk '
  /^ *1000 / { printf "%-40s %12s ms %12s\n", "discovery, 1,000 entries (pass)", $4, "< 5 ms" }
  /^ *100 /  { printf "%-40s %12s ms\n", "discovery, 100 entries (pass)", $4 }
  /^ *10 /   { printf "%-40s %12s ms\n", "discovery, 10 entries (pass)", $4 }
  /^ratio/   { printf "%-40s %15s %12s\n", "eject-all / shell loop", $NF, "<= 1.5" }
  /^program running in tray mode/ { printf "%-40s %12s of %s %8s\n", "script unmounts failing, tray running", $(NF-1), $(NF-2), "0" }
  /^list ratio/ { printf "%-40s %15s %12s\n", "list / findmnt --real -J", $NF, "<= 2" }
  /^varnelo-eject list/ { printf "%-40s %12s MB %12s\n", "list peak resident memory", $NF, "< 8 MB" }
  /^mount / && !/CPU/ { printf "%-40s %12s ms %12s\n", "mount to views (median of 20)", $3, "< 50 ms" }
  /^mount .*CPU/ { printf "%-40s %12s ms\n", "engine CPU per mount (median of 20)", $3 }
  /^unmount .*CPU/ { printf "%-40s %12s ms\n", "engine CPU per unmount (median of 20)", $3 }
  /^CPU per mount/ { printf "%-40s %12s ms %12s\n", "application CPU per mount", $(NF-4), "<= 3 ms" }
  /^CPU per unmount/ { printf "%-40s %12s ms %12s\n", "application CPU per unmount", $(NF-4), "<= 1.3 ms" }
  /^start-up/ { printf "%-40s %12s ms %12s\n", "start-up to main window (median)", $(NF-4), "< 400 ms" }
  /^peak/    { printf "%-40s %12s MB %12s\n", "peak resident memory", $(NF-4), "< 60 MB" }
  /^idle CPU/ { printf "%-40s %12s ms %12s\n", "idle CPU over the idle period", $(NF-4), "< 10 ms" }
  /^idle wake/ { printf "%-40s %15s\n", "idle wake-ups", $NF }
' "$log"

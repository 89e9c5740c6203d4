#!/usr/bin/env bash
# `varnelo-eject list` as a whole process against `findmnt --real -J`, side by side in one run:
# alternating runs of each, the median wall-clock time, the ratio, and the median peak resident
# memory (with /usr/bin/time). As root, first mounts a few labelled loop images in a private
# mount namespace, so that the listing has volumes to show, name and sort.
#
# Usage: bench/list.sh PATH-TO-varnelo-eject [VOLUMES]   (RUNS=40 by default; VOLUMES=3)
# LABELS="Élan|Øresund|Café" names the volumes (default "Bench Volume N"); LIST_LOCALE=fr_FR.UTF-8
# runs both programs in that locale.
set -euo pipefail

program=$(realpath "$1")
volumes=${2:-3}
runs=${RUNS:-40}

if [ "$(id -u)" -eq 0 ] && [ "$volumes" -gt 0 ] && [ -z "${VARNELO_BENCH_NAMESPACE:-}" ]; then
  export VARNELO_BENCH_NAMESPACE=1
  exec unshare --mount --propagation private "$0" "$@"
fi
if [ -n "${VARNELO_BENCH_NAMESPACE:-}" ]; then
  work=$(mktemp -d /tmp/varnelo-list-bench-XXXXXX)
  trap 'for m in "$work"/m*; do umount "$m" 2>/dev/null || true; done; rm -rf "$work"' EXIT
  for i in $(seq 1 "$volumes"); do
    truncate -s 8M "$work/i$i.img"
    label=$(cut -d '|' -f "$i" <<<"${LABELS:-}")
    mkfs.ext4 -q -F -L "${label:-Bench Volume $i}" "$work/i$i.img"
    mkdir -p "$work/m$i"
    mount -o loop "$work/i$i.img" "$work/m$i"
  done
  udevadm settle 2>/dev/null || true
fi

now() { local t=${EPOCHREALTIME//[.,]/}; echo "$t"; }
in_locale() {
  if [ -n "${LIST_LOCALE:-}" ]; then LC_ALL=$LIST_LOCALE "$@"; else "$@"; fi
}
program_times=()
findmnt_times=()
for _ in $(seq 1 "$runs"); do
  start=$(now)
  in_locale "$program" list >/dev/null
  program_times+=($(($(now) - start)))
  start=$(now)
  in_locale findmnt --real -J >/dev/null
  findmnt_times+=($(($(now) - start)))
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
peak() {
  [ -x /usr/bin/time ] || { echo 0; return; }
  local values=()
  for _ in 1 2 3 4 5; do
    values+=($(in_locale /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1))
  done
  median "${values[@]}"
}
listed=$(in_locale "$program" list | head -n -1 | wc -l)
p=$(median "${program_times[@]}")
f=$(median "${findmnt_times[@]}")
awk -v p="$p" -v f="$f" -v n="$runs" -v pm="$(peak "$program" list)" \
  -v fm="$(peak findmnt --real -J)" -v listed="$listed" 'BEGIN {
  printf "%-30s %6s %10s %10s\n", "list, " listed " volumes listed", "runs", "median ms", "peak MB";
  printf "%-30s %6d %10.1f %10.1f\n", "varnelo-eject list", n, p / 1000, pm / 1024;
  printf "%-30s %6d %10.1f %10.1f\n", "findmnt --real -J", n, f / 1000, fm / 1024;
  printf "%-30s %6s %10.2f\n", "list ratio (target <= 2)", "", p / f;
}'

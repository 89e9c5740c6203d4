#!/usr/bin/env bash
# A script that mounts and unmounts a volume quickly while the desktop program runs in tray mode
# (Xvfb with trayer as the tray host, a session bus of its own): how many of the script's
# unmounts fail ("target is busy") because the program was looking at the volume. The same
# cycles with the program stopped come first, as the baseline. Everything happens in a private
# mount namespace that the program shares, so nothing mounted here is seen outside.
#
# Usage: sudo bench/mount_cycles.sh PATH-TO-varnelo-eject [CYCLES]   (CYCLES=200 by default;
# VOLUMES=3 more mounted images the program also looks at on each change; GAP=0 seconds slept
# between a mount and its unmount)
set -euo pipefail

program=$(realpath "$1")
cycles=${2:-200}
for tool in Xvfb trayer xdotool dbus-run-session unshare mkfs.ext4; do
  command -v "$tool" >/dev/null || { echo "mount cycles: skipped, $tool is missing"; exit 0; }
done
[ "$(id -u)" -eq 0 ] || { echo "mount cycles: skipped, needs root"; exit 0; }

if [ -z "${VARNELO_BENCH_NAMESPACE:-}" ]; then
  export VARNELO_BENCH_NAMESPACE=1
  exec unshare --mount --propagation private dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/varnelo-cycles-bench-XXXXXX)
display=:$((70 + RANDOM % 9))
pids=()
devices=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for m in "$work"/m*; do umount "$m" 2>/dev/null || true; done
  for d in "${devices[@]}"; do losetup -d "$d" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Attaches a new image to a loop device, left in $device (not in a subshell: the cleanup
# detaches every device listed here).
attach() {
  truncate -s 16M "$work/$1.img"
  mkfs.ext4 -q -F -L "$2" "$work/$1.img"
  mkdir -p "$work/$1"
  device=$(losetup -f --show "$work/$1.img")
  devices+=("$device")
}
attach m0 "Cycled Volume"
cycled=$device
for i in $(seq 1 "${VOLUMES:-3}"); do
  attach "m$i" "Steady Volume $i"
  mount "$device" "$work/m$i"
done
command -v udevadm >/dev/null && udevadm settle 2>/dev/null || true

# One run of the script: the number of unmounts that failed.
run_cycles() {
  local failed=0
  for _ in $(seq 1 "$cycles"); do
    mount "$cycled" "$work/m0"
    [ "${GAP:-0}" = 0 ] || sleep "$GAP"
    if ! umount "$work/m0" 2>>"$work/errors"; then
      failed=$((failed + 1))
      for _ in 1 2 3 4 5 6 7 8 9 10; do umount "$work/m0" 2>/dev/null && break; sleep 0.1; done
    fi
  done
  echo "$failed"
}

started=$(date +%s%N)
without=$(run_cycles)
without_ms=$((($(date +%s%N) - started) / 1000000))

source "$(dirname "$0")/tray_session.sh"
start_tray_session
write_settings true
"$program" >"$work/program.log" 2>&1 &
pids+=($!)
sleep 3
kill -0 "${pids[-1]}" || { echo "mount cycles: the program ended"; cat "$work/program.log"; exit 1; }

started=$(date +%s%N)
with=$(run_cycles)
with_ms=$((($(date +%s%N) - started) / 1000000))
kill -0 "${pids[-1]}" || { echo "mount cycles: the program ended during the cycles"; exit 1; }

printf '%-44s %8s %8s %10s\n' "mount/unmount cycles by a script" "cycles" "failed" "ms/cycle"
printf '%-44s %8d %8d %10.1f\n' "program stopped" "$cycles" "$without" "$(echo "$without_ms / $cycles" | bc -l)"
printf '%-44s %8d %8d %10.1f\n' "program running in tray mode (target: 0)" "$cycles" "$with" "$(echo "$with_ms / $cycles" | bc -l)"
if [ -s "$work/errors" ]; then
  sort "$work/errors" | uniq -c | head -3
fi

#!/usr/bin/env bash
# Eject-all of 10 loop-mounted ext4 images by the program (as root, no udisks2: the direct
# unmount and loop detach) against a shell loop of umount and losetup -d on the same images,
# in the same run, alternating, 5 times each. Prints the medians and their ratio.
#
# Usage (root): bench/eject_all.sh PATH-TO-varnelo-eject
# Runs itself again in a private mount namespace: nothing it mounts is seen outside.
set -euo pipefail

program=$(realpath "$1")
rounds=${ROUNDS:-5}
count=10

if [ "$(id -u)" -ne 0 ]; then
  echo "eject_all: skipped, needs root"
  exit 0
fi
if [ -z "${VARNELO_BENCH_NAMESPACE:-}" ]; then
  export VARNELO_BENCH_NAMESPACE=1
  exec unshare --mount --propagation private "$0" "$@"
fi

work=$(mktemp -d /tmp/varnelo-eject-bench-XXXXXX)
trap 'for m in "$work"/m*; do umount -l "$m" 2>/dev/null || true; done; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/VarneloEject"
# Disk images are part of eject-all only when the setting says so.
cat >"$XDG_CONFIG_HOME/VarneloEject/defaults.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>VEEjectDiskImages</key><true/></dict></plist>
PLIST
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus"

# Other external volumes would be ejected too: take them away in this namespace only.
"$program" list --json | /usr/bin/python3 -c 'import json,sys; [print(v["id"]) for v in json.load(sys.stdin)]' |
  while IFS= read -r path; do umount -l "$path"; done

for i in $(seq 1 $count); do
  truncate -s 16M "$work/i$i.img"
  mkfs.ext4 -q -F -L "Bench$i" "$work/i$i.img"
  mkdir -p "$work/m$i"
done

mount_all() {
  devices=()
  for i in $(seq 1 $count); do
    dev=$(losetup -f --show "$work/i$i.img")
    mount "$dev" "$work/m$i"
    devices+=("$dev")
  done
  sync
  udevadm settle --timeout=10 2>/dev/null || true
}

now() { date +%s%N; }
program_times=()
shell_times=()
for round in $(seq 1 "$rounds"); do
  mount_all
  start=$(now)
  "$program" eject-all >/dev/null
  program_times+=($(( ($(now) - start) / 1000 )))
  for i in $(seq 1 $count); do mountpoint -q "$work/m$i" && { echo "m$i still mounted"; exit 1; }; done
  udevadm settle --timeout=10 2>/dev/null || true

  mount_all
  start=$(now)
  for i in $(seq 1 $count); do
    umount "$work/m$i"
    losetup -d "${devices[$((i - 1))]}"
  done
  shell_times+=($(( ($(now) - start) / 1000 )))
  udevadm settle --timeout=10 2>/dev/null || true
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
p=$(median "${program_times[@]}")
s=$(median "${shell_times[@]}")
awk -v p="$p" -v s="$s" -v n="$rounds" 'BEGIN {
  printf "%-28s %8s %10s\n", "eject-all of 10 images", "rounds", "median ms";
  printf "%-28s %8d %10.1f\n", "varnelo-eject eject-all", n, p / 1000;
  printf "%-28s %8d %10.1f\n", "shell umount + losetup -d", n, s / 1000;
  printf "%-28s %8s %10.2f\n", "ratio (target <= 1.5)", "", p / s;
}'

#!/usr/bin/env bash
# The desktop application on a virtual X display (Xvfb, with trayer as the tray host):
#  - start-up: from exec to the main window mapped and visible (polled with xdotool every few
#    milliseconds), 10 runs in window mode, median; and the peak resident memory (VmHWM) then;
#  - idle: in menu-bar mode with the tray icon shown, the CPU time all threads use over
#    60 seconds of nothing happening (from /proc/PID/task/*/schedstat, nanoseconds), and how
#    often they woke up (context switches);
#  - mount and unmount (root only): the CPU time all threads spend on each of 5 mounts and
#    unmounts of a loop-attached ext4 image, with the tray icon shown, measured the same way from
#    outside (the whole reaction: hearing of it, the discovery pass, every view refreshed).
#
# Usage: bench/desktop.sh PATH-TO-varnelo-eject [IDLE-SECONDS]
set -euo pipefail

program=$(realpath "$1")
idle_seconds=${2:-60}
runs=${RUNS:-10}
for tool in Xvfb trayer xdotool dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "desktop: skipped, $tool is missing"; exit 0; }
done

if [ -z "${VARNELO_BENCH_SESSION:-}" ]; then
  export VARNELO_BENCH_SESSION=1
  # Qt's D-Bus calls want a session bus; this one ends with the benchmark.
  exec dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/varnelo-desktop-bench-XXXXXX)
display=:$((90 + RANDOM % 9))
pids=()
device=
# udevd may hold the device for a moment after the unmount, while it probes it.
detach_volume() {
  [ -n "$device" ] || return 0
  command -v udevadm >/dev/null && udevadm settle 2>/dev/null || true
  for _ in $(seq 1 25); do losetup -d "$device" 2>/dev/null && break; sleep 0.2; done
  device=
}
cleanup() {
  umount "$work/Bench Volume" 2>/dev/null || true
  detach_volume
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/tray_session.sh"
start_tray_session

now() { date +%s%N; }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Start-up, window mode: the main window is shown at once.
write_settings false
startup=()
peak=()
for _ in $(seq 1 "$runs"); do
  start=$(now)
  "$program" >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || { echo "desktop: the program ended before showing a window"; exit 1; }
    sleep 0.002
  done
  startup+=($(( ($(now) - start) / 1000 )))
  sleep 1
  peak+=($(awk '/^VmHWM/ {print $2}' "/proc/$pid/status"))
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done

# Idle, menu-bar mode: the tray icon is shown and nothing changes.
write_settings true
"$program" >/dev/null 2>&1 &
pid=$!
pids+=($pid)
sleep 10
# Per thread, so that a thread ending meanwhile (a finished start-up task) takes no CPU time
# away from the sum: "tid cpu-ns switches" lines, compared by thread id.
snapshot() {
  for task in /proc/"$pid"/task/*; do
    [ -r "$task/schedstat" ] || continue
    printf '%s %s %s\n' "${task##*/}" "$(cut -d' ' -f1 "$task/schedstat")" \
      "$(awk '/ctxt_switches/ {s += $2} END {print s}' "$task/status")"
  done
}
snapshot >"$work/before"
sleep "$idle_seconds"
snapshot >"$work/after"
threads=$(wc -l <"$work/after")

# Mounts and unmounts, in menu-bar mode, the tray icon shown.
mount_cpu=()
unmount_cpu=()
if [ "$(id -u)" -eq 0 ] && command -v mkfs.ext4 >/dev/null; then
  truncate -s 16M "$work/volume.img"
  mkfs.ext4 -q -F -L BenchVolume "$work/volume.img"
  mkdir -p "$work/Bench Volume"
  device=$(losetup -f --show "$work/volume.img")
  command -v udevadm >/dev/null && udevadm settle 2>/dev/null || true
  sleep 1
  for _ in 1 2 3 4 5; do
    before=$(cpu_of "$pid")
    mount "$device" "$work/Bench Volume"
    sleep 1
    mount_cpu+=($(($(cpu_of "$pid") - before)))
    before=$(cpu_of "$pid")
    umount "$work/Bench Volume"
    sleep 1
    unmount_cpu+=($(($(cpu_of "$pid") - before)))
  done
  detach_volume
else
  echo "note: mount and unmount skipped (root and mkfs.ext4 needed)"
fi
read -r cpu wakeups ended < <(awk '
  NR == FNR { cpu[$1] = $2; switches[$1] = $3; next }
  { seen[$1] = 1; total += $2 - cpu[$1]; woken += $3 - switches[$1] }
  END { for (t in cpu) if (!(t in seen)) gone++; printf "%d %d %d\n", total, woken, gone }
' "$work/before" "$work/after")
cpu_before=0
cpu_after=$cpu
switches_before=0
switches_after=$wakeups
[ "$ended" -eq 0 ] || echo "note: $ended thread(s) ended during the idle period; their time is not counted"

awk -v s="$(median "${startup[@]}")" -v m="$(median "${peak[@]}")" -v n="$runs" \
    -v cpu=$((cpu_after - cpu_before)) -v w=$((switches_after - switches_before)) \
    -v secs="$idle_seconds" -v t="$threads" \
    -v mc="$( [ ${#mount_cpu[@]} -gt 0 ] && median "${mount_cpu[@]}")" \
    -v uc="$( [ ${#unmount_cpu[@]} -gt 0 ] && median "${unmount_cpu[@]}")" 'BEGIN {
  printf "%-34s %12s %14s\n", "desktop application", "figure", "target";
  printf "%-34s %9.1f ms %14s\n", "start-up to window shown (median)", s / 1000, "< 400 ms";
  printf "%-34s %9.1f MB %14s\n", "peak resident memory (median)", m / 1024, "< 60 MB";
  printf "%-34s %9.2f ms %14s\n", "idle CPU over " secs " s (" t " threads)", cpu / 1e6, "< 10 ms";
  printf "%-34s %12d %14s\n", "idle wake-ups over " secs " s", w, "";
  if (mc != "") {
    printf "%-34s %9.2f ms %14s\n", "CPU per mount (median of 5)", mc / 1e6, "<= 3 ms";
    printf "%-34s %9.2f ms %14s\n", "CPU per unmount (median of 5)", uc / 1e6, "<= 1.3 ms";
  }
}'

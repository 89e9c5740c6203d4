#!/usr/bin/env bash
# The desktop program beside udiskie (Debian's package, `udiskie --tray --no-automount
# --no-notify`), in one run: the same Xvfb and trayer, the same udisksd on a private system bus,
# the same loop-attached ext4 images, all in a private mount namespace. ROUNDS (5) rounds, the
# two tools alternating which goes first; each tool runs alone while it is measured:
#  - start: from exec to the tray icon embedded and viewable (a window of its process, polled
#    with xdotool every 2 ms);
#  - peak resident memory: VmHWM after the events with no other volume mounted;
#  - idle: CPU time of all its threads over IDLE (20) seconds, from /proc/PID/task/*/schedstat;
#  - each event: an image mounted, then unmounted, EVENTS (6) times, GAP (0.8) s apart, with 0,
#    then 10, then 40 other images mounted; CPU time of all its threads from before the call to
#    GAP seconds after it (the whole reaction, any delayed work included);
#  - first reaction: from the time taken right before the mount(2) or umount2(2) call
#    (mount_now.py makes it) to, for ours, its first QSystemTrayIcon::setToolTip call
#    afterwards (tooltip_probe.c, preloaded: the monitor's thread, the hand-over and the tray
#    update all inside), and for udiskie, its daemon having handed the device event to its
#    listeners, the tray among them (udiskie_probe.py wraps udiskie's own entry point). udiskie
#    has nothing to redraw on a mount in this mode: its menu is built when it opens. Both clocks
#    are CLOCK_MONOTONIC; the bench neither sleeps nor waits inside a measured interval.
# The X server runs without GLX (see below). Prints a markdown table (medians of every round's
# figures), with the load average and the time the kernel took for the calls themselves.
# Needs root, udisks2, Xvfb, trayer, xdotool and a C compiler; installs udiskie and
# gir1.2-gtk-3.0 when missing, and starts udevd when none runs (udisks2 learns devices from it).
#
# Usage: sudo bench/versus_udiskie.sh PATH-TO-varnelo-eject
set -euo pipefail

program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
rounds=${ROUNDS:-5}
idle_seconds=${IDLE:-20}
events=${EVENTS:-6}
gap=${GAP:-0.8}
udisksd=/usr/libexec/udisks2/udisksd
# udiskie is the bench's peer, nothing the program or its tests need: installed here.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
if ! installed udiskie || ! installed gir1.2-gtk-3.0; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q udiskie gir1.2-gtk-3.0 >/dev/null
  fi
fi
for tool in Xvfb trayer xdotool dbus-run-session dbus-daemon dbus-send unshare mkfs.ext4 losetup \
  udiskie cc /usr/bin/python3 "$udisksd"; do
  command -v "$tool" >/dev/null || { echo "versus_udiskie: skipped, $tool is missing"; exit 0; }
done
[ "$(id -u)" -eq 0 ] || { echo "versus_udiskie: skipped, needs root"; exit 0; }

if [ -z "${VARNELO_BENCH_SESSION:-}" ]; then
  export VARNELO_BENCH_SESSION=1
  # No accessibility bus for either: it is started on demand and counted against whoever asks.
  export NO_AT_BRIDGE=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=0
  exec unshare --mount --propagation private dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/varnelo-versus-XXXXXX)
chmod 755 "$work"
for number in $(seq 150 170 | shuf); do
  [ -e "/tmp/.X11-unix/X$number" ] || { display=:$number; break; }
done
pids=()
devices=()
cleanup() {
  for pid in "${tool_pid:-}" "${pids[@]}"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  umount "$work"/mnt/* 2>/dev/null || true
  command -v udevadm >/dev/null && udevadm settle 2>/dev/null || true
  for device in "${devices[@]}"; do
    for _ in $(seq 1 25); do losetup -d "$device" 2>/dev/null && break; sleep 0.2; done
  done
  rm -rf "$work"
}
trap cleanup EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# udisks2 learns labels and loop devices from udevd's database.
if ! pgrep -x systemd-udevd >/dev/null && [ -x /lib/systemd/systemd-udevd ]; then
  /lib/systemd/systemd-udevd --daemon
  udevadm trigger --action=change --subsystem-match=block
fi

# The images: 0 is the one mounted and unmounted, 1..40 the others.
mkdir -p "$work/mnt"
tag=$((RANDOM % 1000))
for index in $(seq 0 40); do
  truncate -s 8M "$work/$index.img"
  mkfs.ext4 -q -F -L "VsU${tag}n$index" "$work/$index.img"
  devices+=("$(losetup -f --show "$work/$index.img")")
  mkdir -p "$work/mnt/$index"
done
udevadm settle 2>/dev/null || true

# A system bus of our own with udisksd (and polkitd, which it asks) on it.
bus_address="unix:path=$work/system_bus_socket"
cat >"$work/bus.conf" <<CONF
<busconfig><type>system</type><listen>$bus_address</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
CONF
dbus-daemon --nofork --nopidfile --config-file="$work/bus.conf" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=$bus_address
owned() {
  dbus-send --bus="$bus_address" --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
wait_for_name() {
  for _ in $(seq 1 200); do owned "$1" && return 0; sleep 0.05; done
  echo "versus_udiskie: $1 did not come up on the private bus"
  exit 1
}
wait_for_name org.freedesktop.DBus
for polkitd in /usr/lib/polkit-1/polkitd /usr/libexec/polkitd; do
  if [ -x "$polkitd" ]; then
    "$polkitd" --no-debug >/dev/null 2>&1 &
    pids+=($!)
    wait_for_name org.freedesktop.PolicyKit1
    break
  fi
done
"$udisksd" >/dev/null 2>&1 &
pids+=($!)
wait_for_name org.freedesktop.UDisks2

# Without GLX: GTK would otherwise load Mesa's software renderer into udiskie, 44 MB of LLVM
# that a desktop with a GPU driver does not load and that would flatter our memory ratio.
xvfb_options="-extension GLX"
source "$here/tray_session.sh"
start_tray_session
write_settings true
cc -shared -fPIC -O2 -o "$work/tooltip_probe.so" "$here/versus_udiskie/tooltip_probe.c" -ldl

now() { date +%s%N; }
# Per thread, so that a thread ending meanwhile takes nothing away from the sum.
threads_of() {
  for task in /proc/"$1"/task/*; do
    [ -r "$task/schedstat" ] && echo "${task##*/} $(cut -d' ' -f1 "$task/schedstat")"
  done
}
# The first probe line after $2 (ns) in file $1 (for udiskie, about device $3), minus $2.
reaction() {
  awk -v t0="$2" -v device="${3:-}" \
    '$1 > t0 && (device == "" || $3 == device) { print $1 - t0; exit }' "$1"
}
mount_others() {
  local index
  for index in $(seq "$1" "$2"); do mount "${devices[$index]}" "$work/mnt/$index"; done
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {if (NR) print a[int((NR+1)/2)]}'; }

declare -A figures  # "tool figure" -> space-separated values
add() { figures["$1 $2"]+="$3 "; }

# One run of one tool: start, idle, the events at 0, 10 and 40 other volumes.
measure() {
  local tool=$1 probe="$work/$1.probe" start pid others t0 t1 took before event attempt
  : >"$probe"
  # udevd and udisksd work through what came before (forty unmounts, the images attached) for
  # a while: not in this tool's figures.
  udevadm settle --timeout=20 2>/dev/null || true
  sleep 3
  # udiskie now and then ends at once here (its log says why); it gets a second try.
  for attempt in 1 2; do
    start=$(now)
    if [ "$tool" = ours ]; then
      VARNELO_BENCH_PROBE=$probe LD_PRELOAD="$work/tooltip_probe.so" "$program" \
        >"$work/$tool.log" 2>&1 &
    else
      VARNELO_BENCH_PROBE=$probe /usr/bin/python3 "$here/versus_udiskie/udiskie_probe.py" \
        --tray --no-automount --no-notify >"$work/$tool.log" 2>&1 &
    fi
    pid=$!
    tool_pid=$pid
    until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.002
    done
    kill -0 "$pid" 2>/dev/null && break
    echo "versus_udiskie: $tool ended before its icon showed:" >&2
    tail -5 "$work/$tool.log" >&2
    [ "$attempt" -eq 1 ] || exit 1
    sleep 3
  done
  add "$tool" start $((($(now) - start) / 1000))
  sleep 3
  threads_of "$pid" >"$work/before"
  sleep "$idle_seconds"
  threads_of "$pid" >"$work/after"
  add "$tool" idle "$(awk 'NR == FNR { cpu[$1] = $2; next } $1 in cpu { total += $2 - cpu[$1] }
    END { print total + 0 }' "$work/before" "$work/after")"
  for others in 0 10 40; do
    case $others in
    10) mount_others 1 10; sleep 2 ;;
    40) mount_others 11 40; sleep 3 ;;
    esac
    for _ in $(seq 1 "$events"); do
      for event in mount unmount; do
        before=$(cpu_of "$pid")
        if [ "$event" = mount ]; then
          read -r t0 t1 < <(/usr/bin/python3 "$here/versus_udiskie/mount_now.py" mount \
            "${devices[0]}" "$work/mnt/0")
        else
          read -r t0 t1 < <(/usr/bin/python3 "$here/versus_udiskie/mount_now.py" umount "$work/mnt/0")
        fi
        add kernel "$event" $((t1 - t0))
        sleep "$gap"
        add "$tool" "$event-cpu-$others" $(($(cpu_of "$pid") - before))
        if [ "$others" -eq 0 ]; then
          if [ "$tool" = ours ]; then
            took=$(reaction "$probe" "$t0")
          else
            took=$(reaction "$probe" "$t0" "${devices[0]}")
          fi
          add "$tool" "$event-reaction" "$took"
          # The same from the call's return; the table can change before the call returns.
          [ -n "$took" ] && add "$tool" "$event-after-call" $((took > t1 - t0 ? took - t1 + t0 : 0))
        fi
      done
    done
    [ "$others" -eq 0 ] && add "$tool" peak "$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")"
  done
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  tool_pid=
  umount "$work"/mnt/{1..40}
}

for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order="ours udiskie"; else order="udiskie ours"; fi
  for tool in $order; do
    measure "$tool"
  done
  echo "round $round of $rounds done" >&2
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# figure scale unit goal label
row() {
  local ours theirs
  ours=$(median ${figures["ours $1"]:-})
  theirs=$(median ${figures["udiskie $1"]:-})
  awk -v a="${ours:-}" -v b="${theirs:-}" -v scale="$2" -v unit="$3" -v goal="$4" -v label="$5" '
    function show(v) { if (v == "") return "n/a"; v /= scale; return sprintf(v < 10 ? "%.2f %s" : "%.1f %s", v, unit) }
    BEGIN {
      ratio = (a == "" || b == "") ? "n/a" : (b == 0 ? (a == 0 ? "0" : "n/a") : sprintf("%.2f", a / b));
      printf "| %s | %s | %s | %s | %s |\n", label, show(a), show(b), ratio, goal
    }'
}
echo
echo "| Figure | VarneloEject | udiskie | Ratio | Goal |"
echo "|---|---|---|---|---|"
row start 1000 ms "≤ 0.25" "start to tray icon shown"
row peak 1024 MB "≤ 0.55" "peak resident memory"
row idle 1e6 ms "0" "idle CPU over $idle_seconds s"
row mount-reaction 1e6 ms "≤ 0.5" "first reaction to a mount"
row mount-cpu-0 1e6 ms "≤ 0.5" "CPU spent on one mount event"
row unmount-reaction 1e6 ms "≤ 0.5" "first reaction to an unmount"
row unmount-cpu-0 1e6 ms "≤ 0.5" "CPU spent on one unmount event"
row mount-after-call 1e6 ms "" "reaction to a mount, from mount(2)'s return"
row unmount-after-call 1e6 ms "" "reaction to an unmount, from umount2(2)'s return"
awk -v m="$(median ${figures["kernel mount"]})" -v u="$(median ${figures["kernel unmount"]})" 'BEGIN {
  printf "\nBoth reactions include the call itself: mount(2) took %.1f ms, umount2(2) %.1f ms (medians).\n",
    m / 1e6, u / 1e6 }'
echo
echo "| Other volumes mounted | ours, per mount / unmount event | udiskie, per mount / unmount event |"
echo "|---|---|---|"
for others in 0 10 40; do
  printf '| %s | %s / %s ms | %s / %s ms |\n' "$others" \
    $(for key in "ours mount" "ours unmount" "udiskie mount" "udiskie unmount"; do
      set -- $key
      awk -v v="$(median ${figures["$1 $2-cpu-$others"]})" 'BEGIN { printf "%.2f\n", v / 1e6 }'
    done)
done
echo
echo "Medians of $rounds alternating rounds ($events events of each kind per round and volume count)." \
  "Load average (1, 5, 15 min): $load_before before, $load_after after."

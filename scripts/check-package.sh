#!/usr/bin/env bash
# Builds the Debian package, installs it with apt on a clean Debian 12 (debootstrap, minbase)
# and checks that the installed program runs and its files are where the desktop looks.
# Usage (as root): scripts/check-package.sh [ROOT]
#   ROOT: a bookworm root file system to reuse, or an empty folder to debootstrap into;
#   without it a temporary one is made and removed afterwards. MIRROR overrides the mirror.
# Slow (a release build plus a debootstrap): not meant for CI.
set -euo pipefail
cd "$(dirname "$0")/.."

[[ $(id -u) == 0 ]] || { echo "check-package.sh: run as root (debootstrap, chroot)" >&2; exit 2; }
mirror=${MIRROR:-http://deb.debian.org/debian}
root=${1:-}
temporary=false
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [[ -n $root ]] && mountpoint -q "$root/proc"; then umount "$root/proc"; fi
  if $temporary && ! mountpoint -q "$root/proc"; then rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT

# The package, built as the README says, in its own folder.
build="build-package-check"
rm -f "$build"/varnelo-eject_*.deb
nice -n 10 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARNELO_BUILD_TESTS=OFF -DVARNELO_BUILD_BENCHMARKS=OFF
nice -n 10 cmake --build "$build" -j2
(cd "$build" && nice -n 10 cpack -G DEB)
package=$(echo "$build"/varnelo-eject_*.deb)

# A clean system to install it on.
command -v debootstrap >/dev/null || apt-get install -y -q debootstrap
if [[ -z $root ]]; then
  root=$(mktemp -d /tmp/clean-bookworm.XXXXXX)
  temporary=true
fi
if [[ ! -x $root/usr/bin/apt-get ]]; then
  debootstrap --variant=minbase bookworm "$root" "$mirror"
fi
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$package" "$root/tmp/"

inside() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

failures=0
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    echo "PASS  $name"
  else
    echo "FAIL  $name"
    while IFS= read -r line; do echo "      $line"; done <<<"$output"
    failures=$((failures + 1))
  fi
}

check "apt installs the package" inside sh -c \
  "apt-get update -q && apt-get install -y -q --reinstall /tmp/$(basename "$package")"
inside apt-get install -y -q --no-install-recommends desktop-file-utils appstream man-db xvfb \
  >/dev/null

check "every library the programs link is installed" inside sh -c \
  '! ldd /usr/bin/varnelo-eject /usr/libexec/varnelo-eject/* | grep "not found"'
check "listing loads neither Qt nor D-Bus" inside sh -c '! ldd /usr/bin/varnelo-eject | grep -E "libQt|libsdbus"'
check "--version" inside sh -c 'varnelo-eject --version | grep -x "varnelo-eject [0-9.]*"'
check "--help" inside sh -c 'varnelo-eject --help | grep "^Usage: varnelo-eject"'
check "list" inside varnelo-eject list
# shellcheck disable=SC2016 # expanded inside the chroot
check "list speaks French from the installed tables" inside sh -c \
  'test -f /usr/share/varnelo-eject/l10n/fr.json &&
   fr=$(LANGUAGE=fr varnelo-eject list) && en=$(LANG=C varnelo-eject list) &&
   echo "$fr" && test -n "$fr" && test "$fr" != "$en"'
check "desktop entry validates" \
  inside desktop-file-validate /usr/share/applications/varnelo-eject.desktop
check "hicolor SVG icon" \
  inside grep -q "<svg" /usr/share/icons/hicolor/scalable/apps/varnelo-eject.svg
check "AppStream metainfo validates" inside appstreamcli validate --no-net \
  /usr/share/metainfo/com.varnelo_labs.VarneloEject.metainfo.xml
check "man page" inside sh -c 'man -w varnelo-eject | grep "^/usr/share/man/man1/varnelo-eject\.1"'

# The desktop application on an X display, started through the command: the process becomes
# the desktop program, and the command's path, which it hands on, is what the autostart entry
# names on its Exec line.
display=90
while grep -q "/tmp/.X11-unix/X$display\$" /proc/net/unix; do display=$((display + 1)); done
# Started by chroot itself (not through a function) so that $! is the program's own pid.
chroot "$root" /usr/bin/Xvfb ":$display" -nolisten tcp -screen 0 1280x800x24 >/dev/null 2>&1 &
pids+=($!)
sleep 2
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DISPLAY=":$display" \
  /usr/bin/varnelo-eject >/dev/null 2>&1 &
app=$!
pids+=("$app")
sleep 5
check "desktop application keeps running on X" kill -0 "$app"
check "the command became the desktop program" \
  test "$(chroot "$root" readlink "/proc/$app/exe")" = /usr/libexec/varnelo-eject/varnelo-eject-desktop
check "autostart Exec path is /usr/bin/varnelo-eject" \
  grep -qzx VARNELO_EJECT_COMMAND=/usr/bin/varnelo-eject "/proc/$app/environ"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "All package checks passed"

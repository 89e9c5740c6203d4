#!/usr/bin/env bash
# Builds the Debian source and binary packages as a packager does (dpkg-buildpackage, with
# `apt-get build-dep ./`) in a clean Debian 12 (debootstrap, minbase), so that Build-Depends
# must be complete; has lintian check both; then installs the .deb with apt into a second clean
# Debian 12 that has nothing but the package and what it depends on, and there: runs the
# autopkgtest commands of debian/tests/control, starts the desktop program on Wayland, then
# checks the installed files with the desktop's own tools and starts it on X as well.
# Usage (as root): scripts/check-package.sh
#   The clean systems are unpacked from /var/cache/varnelo-eject/bookworm-minbase.tar, made by
#   debootstrap on the first run. MIRROR overrides the mirror; KEEP=1 keeps the work folder,
#   /tmp/varnelo-package-check.
set -euo pipefail
cd "$(dirname "$0")/.."

[[ $(id -u) == 0 ]] || { echo "check-package.sh: run as root (apt, debootstrap, chroot)" >&2; exit 2; }
mirror=${MIRROR:-http://deb.debian.org/debian}
cache=/var/cache/varnelo-eject
work=/tmp/varnelo-package-check
builder=$work/builder
root=$work/root
pids=()

unmount_all() {
  local point
  for point in "$builder/proc" "$builder/sys" "$root/proc" "$root/sys"; do
    if mountpoint -q "$point"; then umount "$point"; fi
  done
}
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  unmount_all
  if [[ ${KEEP:-} != 1 ]]; then rm -rf --one-file-system "$work"; fi
}
trap cleanup EXIT
unmount_all
rm -rf --one-file-system "$work"
mkdir -p "$work"

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

export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends lintian debootstrap weston \
  >"$work/host-tools.log" 2>&1 || { tail -n 20 "$work/host-tools.log"; exit 1; }

# A clean Debian 12, unpacked afresh from the cached debootstrap each time.
if [[ ! -s $cache/bookworm-minbase.tar ]]; then
  mkdir -p "$cache"
  debootstrap --variant=minbase bookworm "$work/bootstrap" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log"; exit 1; }
  tar -C "$work/bootstrap" -cf "$cache/bookworm-minbase.tar.part" .
  mv "$cache/bookworm-minbase.tar.part" "$cache/bookworm-minbase.tar"
  rm -rf --one-file-system "$work/bootstrap"
fi
clean_system() {
  mkdir -p "$1"
  tar -C "$1" -xf "$cache/bookworm-minbase.tar"
  mount -t proc proc "$1/proc"
  mount -t sysfs sysfs "$1/sys"
  cp /etc/resolv.conf "$1/etc/resolv.conf"
}

# The packages, built from a copy of the tree (what git would commit, build outputs left out)
# as the README says, with nothing installed beforehand but build-essential.
clean_system "$builder"
mkdir -p "$builder/build/varnelo-eject"
git ls-files --cached --others --exclude-standard -z | tar --null -T - -cf - |
  tar -x -C "$builder/build/varnelo-eject"
chroot "$builder" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive DEB_BUILD_OPTIONS="parallel=$(nproc)" sh -c '
    set -e
    cd /build/varnelo-eject
    apt-get update -q
    apt-get install -y -q --no-install-recommends build-essential
    apt-get build-dep -y -q ./
    dpkg-buildpackage -us -uc -S
    nice -n 10 dpkg-buildpackage -us -uc -b' >"$work/build.log" 2>&1 ||
  { tail -n 30 "$work/build.log"; exit 1; }
package=$(echo "$builder"/build/varnelo-eject_*_amd64.deb)
echo "built $(basename "$package") ($(du -k "$package" | cut -f1) KiB) in a clean Debian 12"

# No error and no warning; overrides stand only with their comment.
check "lintian: source package" lintian --fail-on error,warning --display-info "$builder"/build/varnelo-eject_*_source.changes
check "lintian: binary package" lintian --fail-on error,warning --display-info "$package"

# A second clean system, to install the package on.
clean_system "$root"
cp "$package" "$root/tmp/"

inside() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

check "apt installs the package with its dependencies" inside sh -c \
  "apt-get update -q && apt-get install -y -q --no-install-recommends /tmp/$(basename "$package")"

# Nothing but the package and its dependencies is installed so far.
check "every library the programs link is installed" inside sh -c \
  '! ldd /usr/bin/varnelo-eject /usr/libexec/varnelo-eject/* | grep "not found"'
check "listing loads neither Qt nor D-Bus" inside sh -c '! ldd /usr/bin/varnelo-eject | grep -E "libQt|libsdbus"'
# The password prompt's agent library is loaded by name when needed: it must be there.
check "polkit agent library the prompt loads" inside sh -c 'ldconfig -p | grep -q "libpolkit-agent-1.so.0 "'

# The autopkgtest commands, as autopkgtest runs them: exit 0 and nothing on standard error.
mapfile -t commands < <(sed -n 's/^Test-Command: //p' debian/tests/control)
for command in "${commands[@]}"; do
  check "autopkgtest: $command" inside sh -c "($command) 2>/tmp/stderr >/tmp/stdout; status=\$?;
    cat /tmp/stdout; cat /tmp/stderr; test \$status = 0 && test ! -s /tmp/stderr"
done
check "list --json is a JSON array" inside sh -c 'varnelo-eject list --json | grep -q "^\["'

# The desktop program on Wayland. The compositor (weston, headless) runs outside the clean
# system, so that nothing it needs is installed in there; its socket is in a folder the clean
# system sees. With QT_QPA_PLATFORM=wayland Qt has no fallback: without qt6-wayland the program
# stops at once. The client side of the protocol (WAYLAND_DEBUG) shows the window it creates: a
# toplevel surface with a buffer committed, which Qt does from its event loop.
runtime=/run/varnelo-wayland
mkdir -m 700 "$root$runtime"
XDG_RUNTIME_DIR=$root$runtime weston --backend=headless-backend.so --socket=wayland-check \
  --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -S $root$runtime/wayland-check ]] && break; sleep 0.1; done
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" \
  WAYLAND_DISPLAY=wayland-check QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client \
  /usr/bin/varnelo-eject >"$work/wayland-client.log" 2>&1 &
app=$!
pids+=("$app")
sleep 5
check "desktop program keeps running on Wayland" kill -0 "$app"
check "it shows a window there" sh -c "
  grep -q 'xdg_surface@[0-9]*\.get_toplevel' '$work/wayland-client.log' &&
  grep -q 'wl_surface@[0-9]*\.attach(wl_buffer@' '$work/wayland-client.log' &&
  grep -q 'wl_surface@[0-9]*\.commit()' '$work/wayland-client.log' ||
  { grep -v '^\[' '$work/wayland-client.log' | tail -n 20; exit 1; }"
kill "$app" 2>/dev/null || true

# The installed files, checked by the desktop's own tools (installed only now, after the checks
# above, so that they cannot stand in for a missing dependency).
inside apt-get install -y -q --no-install-recommends desktop-file-utils appstream man-db xvfb \
  >"$work/tools.log" 2>&1 || { tail -n 20 "$work/tools.log"; exit 1; }
check "--help" inside sh -c 'varnelo-eject --help | grep "^Usage: varnelo-eject"'
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
check "man page, compressed" inside sh -c 'man -w varnelo-eject | grep -x "/usr/share/man/man1/varnelo-eject\.1\.gz"'
check "copyright and changelog" inside test -s /usr/share/doc/varnelo-eject/copyright -a \
  -s /usr/share/doc/varnelo-eject/changelog.gz

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

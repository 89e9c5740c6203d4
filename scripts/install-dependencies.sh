#!/usr/bin/env bash
# Installs the Debian packages VarneloEject needs to build, test and run.
# Idempotent: packages already present are not touched. Works as root or through sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-tidy clang-format
  # core and platform libraries
  libplist-dev libmount-dev libblkid-dev libudev-dev libicu-dev libfmt-dev
  nlohmann-json3-dev libcurl4-openssl-dev uuid-dev libsdbus-c++-dev libcryptsetup-dev
  # desktop
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev qt6-wayland
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  # integration tests: volumes, udev, D-Bus, udisks2, a display
  e2fsprogs util-linux udev dbus udisks2 policykit-1 xvfb xauth trayer imagemagick
  dosfstools fusefat squashfs-tools erofs-utils
  # the command line's password prompt in a terminal (loaded when needed); its test's terminal
  libpolkit-agent-1-0 bsdutils
  # the tray as StatusNotifierItem panels see it
  haskell-status-notifier-item-utils
  # a notification service that D-Bus starts on demand, played by a small script
  python3-gi
  desktop-file-utils appstream
  # locales of languages that reorder letters, for the name order's tests
  locales
)
test_locales=(sv_SE.UTF-8 de_DE.UTF-8 fr_FR.UTF-8)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Enabled in locale.gen, so that a later locale-gen keeps them.
absent_locales=()
for name in "${test_locales[@]}"; do
  if ! locale -a | grep -qix "${name/UTF-8/utf8}"; then
    absent_locales+=("$name")
  fi
done
if [ ${#absent_locales[@]} -gt 0 ]; then
  for name in "${absent_locales[@]}"; do
    "${as_root[@]}" sed -i "s/^# *\(${name} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${name} UTF-8" /etc/locale.gen ||
      echo "${name} UTF-8" | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
  done
  "${as_root[@]}" locale-gen >/dev/null
fi

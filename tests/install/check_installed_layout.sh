#!/usr/bin/env bash
# Installs the build into a fresh folder and checks that everything lands where a desktop looks
# for it, and that the installed program finds its own tables there.
# Usage: check_installed_layout.sh BUILD-FOLDER INSTALL-FOLDER LIBEXEC-FOLDER [desktop]
# LIBEXEC-FOLDER is relative to the prefix; with "desktop", the desktop program is checked too.
set -euo pipefail
build=$1
prefix=$2
libexec=$3
desktop=${4:-}

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

failures=0
expect_file() {
  if [ ! -f "$prefix/$1" ]; then
    echo "missing: $1"
    failures=$((failures + 1))
  fi
}
expect_file bin/varnelo-eject
expect_file share/applications/varnelo-eject.desktop
expect_file share/icons/hicolor/scalable/apps/varnelo-eject.svg
expect_file share/metainfo/com.varnelo_labs.VarneloEject.metainfo.xml
expect_file share/man/man1/varnelo-eject.1
expect_file share/varnelo-eject/l10n/en.json
expect_file share/varnelo-eject/l10n/fr.json

expect_file "$libexec/varnelo-eject/varnelo-eject-ejector"

# Listing loads neither Qt nor D-Bus: the command hands over to the programs that need them.
if ldd "$prefix/bin/varnelo-eject" | grep -Eq 'libQt|libsdbus'; then
  echo "bin/varnelo-eject loads Qt or D-Bus"
  failures=$((failures + 1))
fi
status=0
"$prefix/bin/varnelo-eject" eject "no such volume" 2>/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "eject of no volume: status $status"; failures=$((failures + 1)); }
if [ -n "$desktop" ]; then
  expect_file "$libexec/varnelo-eject/varnelo-eject-desktop"
  # An unknown display platform makes the desktop program stop at once, after it has started.
  started=$(ulimit -c 0; QT_QPA_PLATFORM=no-such-platform "$prefix/bin/varnelo-eject" 2>&1 || true)
  [[ $started == *no-such-platform* ]] || { echo "no desktop program started: $started"; failures=$((failures + 1)); }
fi

# The desktop entry starts the program by the name it is installed under, and shows its icon.
entry="$prefix/share/applications/varnelo-eject.desktop"
if [ -f "$entry" ]; then
  grep -qx 'Exec=varnelo-eject' "$entry" || { echo "desktop entry: unexpected Exec"; failures=$((failures + 1)); }
  grep -qx 'Icon=varnelo-eject' "$entry" || { echo "desktop entry: unexpected Icon"; failures=$((failures + 1)); }
fi

version=$("$prefix/bin/varnelo-eject" --version)
case "$version" in
  "varnelo-eject "[0-9]*) ;;
  *) echo "--version printed: $version"; failures=$((failures + 1)) ;;
esac

# Away from the build tree the program reads the installed tables: the summary line is a text,
# not the bare key it falls back to without tables.
summary=$(LANGUAGE=fr "$prefix/bin/varnelo-eject" list | tail -n 1)
if [[ "$summary" =~ ^[a-z_]+\.[a-z_.]+$ ]]; then
  echo "the installed program found no tables: summary is '$summary'"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures problem(s) in the installed tree under $prefix"
  exit 1
fi
echo "installed tree under $prefix is complete"

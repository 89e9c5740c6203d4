#!/usr/bin/env bash
# Installs the build into a fresh folder and checks that everything lands where a desktop looks
# for it, and that the installed programs find their tables and each other there.
# Usage: check_installed_layout.sh BUILD-FOLDER INSTALL-FOLDER LIBEXEC-FOLDER [desktop]
# LIBEXEC-FOLDER is relative to the prefix; with "desktop", the desktop program is checked too.
set -euo pipefail
build=$1 prefix=$2 libexec=$3 desktop=${4:-}
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

failures=0
fail() { echo "$1"; failures=$((failures + 1)); }
expected=(bin/varnelo-eject share/applications/varnelo-eject.desktop share/man/man1/varnelo-eject.1
  share/icons/hicolor/scalable/apps/varnelo-eject.svg share/varnelo-eject/l10n/fr.json
  share/metainfo/com.varnelo_labs.VarneloEject.metainfo.xml share/varnelo-eject/l10n/en.json
  "$libexec/varnelo-eject/varnelo-eject-ejector")
[ -n "$desktop" ] && expected+=("$libexec/varnelo-eject/varnelo-eject-desktop"
  "$libexec/varnelo-eject/varnelo-eject-fetch")
for file in "${expected[@]}"; do [ -f "$prefix/$file" ] || fail "missing: $file"; done

# The desktop entry starts the program by the name it is installed under, and shows its icon.
[ "$(grep -cxE 'Exec=varnelo-eject|Icon=varnelo-eject' "$prefix/share/applications/varnelo-eject.desktop")" = 2 ] || fail "desktop entry: Exec, Icon"

[[ $("$prefix/bin/varnelo-eject" --version) == "varnelo-eject "[0-9]* ]] || fail "--version"
# Away from the build tree the program reads the installed tables: the summary line is a text,
# not the bare key it falls back to without tables.
summary=$(LANGUAGE=fr "$prefix/bin/varnelo-eject" list | tail -n 1)
[[ ! "$summary" =~ ^[a-z_]+\.[a-z_.]+$ ]] || fail "the installed program found no tables: $summary"

# Listing loads neither Qt nor D-Bus; ejecting and the desktop run in the programs under libexec.
! ldd "$prefix/bin/varnelo-eject" | grep -Eq 'libQt|libsdbus' || fail "listing loads Qt or D-Bus"
status=0
"$prefix/bin/varnelo-eject" eject "no such volume" 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "eject of no volume: status $status"
if [ -n "$desktop" ]; then
  # An unknown display platform makes the desktop program stop at once, after it has started.
  ! ldd "$prefix/$libexec/varnelo-eject/varnelo-eject-desktop" | grep -q libcurl ||
    fail "the desktop program loads libcurl"
  started=$(ulimit -c 0; QT_QPA_PLATFORM=no-such-platform "$prefix/bin/varnelo-eject" 2>&1 || true)
  [[ $started == *no-such-platform* ]] || fail "no desktop program started: $started"
fi

[ "$failures" -eq 0 ] || { echo "$failures problem(s) in the installed tree under $prefix"; exit 1; }
echo "installed tree under $prefix is complete"

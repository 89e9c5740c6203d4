#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the program and starts it. Arguments are passed on.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset default >/dev/null
# The command, and the programs it hands over to.
cmake --build build --target varnelo-eject varnelo-eject-ejector varnelo-eject-desktop >/dev/null
exec build/bin/varnelo-eject "$@"

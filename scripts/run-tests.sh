#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset default -DVARNELO_BUILD_TESTS=ON
cmake --build build
ctest --test-dir build --output-on-failure --no-tests=error --timeout 300 -j2

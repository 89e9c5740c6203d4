#!/usr/bin/env bash
# The build a distribution makes with -DVARNELO_NETWORK=OFF: the program must build, hide what
# talks to the servers and send nothing. Ejection and discovery do not change with it, so the
# integration tests run only in the default build.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset no-network "$@" >/dev/null
cmake --build build-no-network -j2
ctest --test-dir build-no-network --output-on-failure --no-tests=error --timeout 300 -j2 \
  -LE '^(integration|fuzz)$'

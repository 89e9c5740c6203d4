#!/usr/bin/env bash
# The test suite under the sanitizers:
#  - every test under AddressSanitizer + UndefinedBehaviorSanitizer ("asan" preset, gcc);
#  - the engine, the dispatchers and the server client under ThreadSanitizer ("tsan" preset,
#    no desktop application, only the test programs those need).
#
# Usage: scripts/run-sanitizer-tests.sh [asan|tsan]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(asan tsan)

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Our own code must be leak-free; the suppressions name only what the system libraries keep
# for the life of the process (fontconfig, the X and D-Bus client libraries).
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=0
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"

for build in "${builds[@]}"; do
  case "$build" in
    asan)
      echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
      cmake --preset asan >/dev/null
      cmake --build build-asan -j2
      ctest --test-dir build-asan --output-on-failure --no-tests=error --timeout 300 -j2
      ;;
    tsan)
      echo "== ThreadSanitizer: engine, dispatchers, server client"
      cmake --preset tsan >/dev/null
      cmake --build build-tsan -j2 --target core_tests support_tests platform_linux_tests \
        platform_linux_integration_tests
      # The engine, the server client with its transports and message intake, the settings
      # store shared by threads, and what runs work through a dispatcher: the engine over the
      # manual one, the command line over the real loop dispatcher, the udisks ejector and the
      # volume monitor with threads of their own, under the engine, and both ejection routes on
      # real volumes (udisks2 calls wait on a thread of their own).
      ctest --test-dir build-tsan --output-on-failure --no-tests=error --timeout 300 -j2 -R \
        '^(EjectEngine|EjectCommands|Routes/EjectFaults|Direct/CryptMapping|SupportClient|ServerCheckTest|ProblemReportTest|SharedHttpTransport|DeviceIdentityTest|SettingsStoreTest|UdisksEjector|SystemEjectorTest|PosixProcessRunnerTest|DiscoveryIntegrationTest)'
      ;;
    *)
      echo "unknown sanitizer build: $build (asan or tsan)" >&2
      exit 2
      ;;
  esac
done

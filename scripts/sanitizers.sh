#!/usr/bin/env bash
# Runs the test suite in sanitizer builds:
#   asan   AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   tsan   ThreadSanitizer, the concurrency tests (simultaneous requests,
#          logger roll-over from several threads, stop during requests)
# usage: scripts/sanitizers.sh [asan|tsan|all]
set -euo pipefail
cd "$(dirname "$0")/.."
WHICH="${1:-all}"
JOBS="$(nproc)"

# Tests that exercise threads against each other; the ThreadSanitizer build
# runs these.
TSAN_TESTS='DispatchLock|PrefetchLock|Trace\.LinesOfParallelRequests|RollOver\.(TwoThreads|Concurrent)|LogSink\.Concurrent|ServiceStop|reliability\.(ConcurrentLogins|SlowClients|StopUnderLoad)'

run_asan() {
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=address,undefined \
    -DTOLVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$JOBS" >/dev/null
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     TOLVANE_SOAK_SECONDS="${TOLVANE_SOAK_SECONDS:-5}" \
     ctest -j "$JOBS" --timeout 600 --output-on-failure)
}

run_tsan() {
  echo "== ThreadSanitizer: concurrency tests"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=thread \
    -DTOLVANE_BUILD_BENCH=OFF >/dev/null
  # Only what the concurrency tests need: the program, its plug-ins and the
  # test programs holding those tests.
  cmake --build build-tsan -j "$JOBS" --target stage httplayer_tests logger_tests \
    host_e2e_tests logservice_test reliability_tests >/dev/null
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/../scripts/tsan.supp" \
     TOLVANE_SOAK_SECONDS="${TOLVANE_SOAK_SECONDS:-5}" \
     ctest -j "$JOBS" --timeout 600 --output-on-failure -R "$TSAN_TESTS")
}

case "$WHICH" in
  asan) run_asan ;;
  tsan) run_tsan ;;
  all) run_asan; run_tsan ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac

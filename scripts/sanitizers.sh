#!/usr/bin/env bash
# Runs the test suite in sanitizer builds:
#   asan   AddressSanitizer + UndefinedBehaviorSanitizer, every test (the load
#          tool's included), at -O1 with the standard library's assertions
#   tsan   ThreadSanitizer, the concurrency tests (simultaneous requests,
#          logger roll-over from several threads, stop during requests) and
#          the load tool's tests
# The test support stops each server it started through the program's own stop
# path, so the leak checker sees it end, and fails the test on any sanitizer
# report in the server's output.
# usage: scripts/sanitizers.sh [asan|tsan|all]
set -euo pipefail
cd "$(dirname "$0")/.."
WHICH="${1:-all}"
JOBS="$(nproc)"

# Tests that exercise threads against each other; the ThreadSanitizer build
# runs these. Each entry must select at least one test.
TSAN_SELECTIONS=(DispatchLock PrefetchLock 'Trace\.LinesOfParallelRequests'
  'RollOver\.(TwoThreads|Concurrent)' 'LogSink\.Concurrent' ServiceStop
  'reliability\.(ConcurrentLogins|SlowClients|StopUnderLoad|Interference)' 'bench\.'
  PluginOverlap 'GateE2E\.' 'StandardHttp\.')
TSAN_TESTS="$(IFS='|'; echo "${TSAN_SELECTIONS[*]}")"
# The load tool's smoke test takes an open port for a ready reference server;
# slowed down by ThreadSanitizer it asks before the handler is registered and
# gets 404. It runs in the ASan build until it waits for a real answer.
TSAN_EXCLUDED='bench\.LoadToolSmoke'

# Fails when one entry of a selection matches no test in build dir $1: a
# renamed test must not drop out of the run unnoticed.
check_selections() {
  local dir="$1" entry
  shift
  for entry in "$@"; do
    if ! (cd "$dir" && ctest -N -R "$entry" | grep -q '^Total Tests: [1-9]'); then
      echo "sanitizers: no test matches '$entry' in $dir" >&2
      return 1
    fi
  done
}

run_asan() {
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
  # -O1 lets the sanitizers see what an optimised build does with lifetimes;
  # the standard library's assertions catch out-of-range container accesses.
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=address,undefined \
    -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1 -D_GLIBCXX_ASSERTIONS" \
    -DTOLVANE_BUILD_BENCH=ON >/dev/null
  cmake --build build-asan -j "$JOBS" >/dev/null
  # The validators walk the service in the plain build; slowed down here they
  # would only add minutes.
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     TOLVANE_SOAK_SECONDS="${TOLVANE_SOAK_SECONDS:-5}" \
     ctest -j "$JOBS" --timeout 600 --output-on-failure --no-tests=error -LE conformance)
}

run_tsan() {
  echo "== ThreadSanitizer: concurrency tests"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=thread \
    -DTOLVANE_BUILD_BENCH=ON >/dev/null
  # Only what the concurrency tests need: the program, its plug-ins, the load
  # tool and the test programs holding those tests.
  cmake --build build-tsan -j "$JOBS" --target stage httplayer_tests logger_tests \
    host_e2e_tests logservice_test reliability_tests bench_unit_tests bench_smoke_tests \
    bench_serviceroot_tests plugin_overlap_test security_e2e_tests \
    standard_http_tests >/dev/null
  check_selections build-tsan "${TSAN_SELECTIONS[@]}"
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/../scripts/tsan.supp" \
     TOLVANE_SOAK_SECONDS="${TOLVANE_SOAK_SECONDS:-5}" \
     ctest -j "$JOBS" --timeout 600 --output-on-failure --no-tests=error -R "$TSAN_TESTS" \
     -E "$TSAN_EXCLUDED")
}

case "$WHICH" in
  asan) run_asan ;;
  tsan) run_tsan ;;
  all) run_asan; run_tsan ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac

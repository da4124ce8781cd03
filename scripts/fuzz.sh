#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 15) on a working copy of its seed corpus. A crash fails the run and leaves
# its input in build-fuzz/crashes/<target>/; keep it in fuzz/regressions/<name>/
# for tests/fuzzregress. A longer run: scripts/fuzz.sh 600. See fuzz/README.md.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-15}"
shift || true
BUILD=build-fuzz
JOBS="$(nproc)"

# -O1 with line tables: quick to build, fast enough to fuzz, and stack traces
# with source lines.
FLAGS="-O1 -gline-tables-only -DNDEBUG"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$FLAGS" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$FLAGS" \
  -DTOLVANE_BUILD_FUZZ=ON -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}" >/dev/null

# Scratch trees of the targets; a crash leaves its tree behind.
export TMPDIR="$PWD/$BUILD/tmp"
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"

status=0
for t in "${targets[@]}"; do
  name="${t#fuzz_}"
  work="$BUILD/corpus/$name"
  crashes="$BUILD/crashes/$name"
  mkdir -p "$work" "$crashes"
  if [ -d "fuzz/corpus/$name" ]; then cp -n fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true; fi
  echo "fuzz: $t for ${SECONDS_PER_TARGET}s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$BUILD/fuzz/$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$crashes/" -print_final_stats=0 "$work" > "$BUILD/fuzz-$name.log" 2>&1; then
    echo "fuzz: $t FAILED; see $BUILD/fuzz-$name.log and $crashes/"
    tail -40 "$BUILD/fuzz-$name.log"
    status=1
  else
    grep -E "^#[0-9]+.*(DONE|pulse)" "$BUILD/fuzz-$name.log" | tail -1 || true
  fi
done
exit $status

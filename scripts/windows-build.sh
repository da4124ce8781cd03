#!/usr/bin/env bash
# The Windows build: cross-compiles the program, the bundled plug-ins and the
# wine run's test plug-ins with mingw-w64 and stages the Windows install tree
# in BUILD_DIR/stage (program, plug-in DLLs, configuration, and sdk/ with the
# headers and import library for plug-in authors).
# usage: windows-build.sh [BUILD_DIR]   (default: build-windows)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build-windows}"
JOBS="${JOBS:-$(nproc)}"

bash "$ROOT/scripts/windows-deps.sh"
OPENSSL_PREFIX="$(JOBS="$JOBS" bash "$ROOT/scripts/windows-openssl.sh")"

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" \
      -DTOLVANE_OPENSSL_PREFIX="$OPENSSL_PREFIX" >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
echo "windows-build: install tree in $BUILD_DIR/stage"

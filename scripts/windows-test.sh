#!/usr/bin/env bash
# Runs the Windows build under wine (tests/windows/wine_test.py): a fresh
# wine prefix in a temporary directory, removed afterwards together with its
# wineserver.
# usage: windows-test.sh [BUILD_DIR]   (default: build-windows, built by windows-build.sh)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build-windows}"

bash "$ROOT/scripts/windows-deps.sh"
if [ ! -f "$BUILD_DIR/stage/RedfishServer/tolvaneredfishserver.exe" ]; then
  echo "windows-test: no Windows build in $BUILD_DIR (run scripts/windows-build.sh)" >&2
  exit 1
fi
exec python3 "$ROOT/tests/windows/wine_test.py" "$BUILD_DIR/stage" "$BUILD_DIR"

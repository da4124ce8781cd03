#!/usr/bin/env bash
# Compiles every Windows-only source (*_win.cpp) with the mingw-w64 cross
# compiler, syntax only: the Windows facilities cannot run here, but they must
# compile. The HTTP library's headers come from a configured build directory.
# usage: check-windows-sources.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build}"
# The POSIX threads model, as the Windows build (scripts/windows-build.sh).
CXX="${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}"

if ! command -v "$CXX" >/dev/null 2>&1; then
  echo "check-windows-sources: $CXX not found (package g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi

INCLUDES=(-I"$ROOT/include" -I"$ROOT/src" -I"$ROOT/src/redfishserver" -I"$ROOT/src/logging"
          -I"$ROOT/civetweb/include")
if [ -d "$BUILD_DIR/_deps/civetweb/include" ]; then
  INCLUDES+=(-I"$BUILD_DIR/_deps/civetweb/include")
else
  echo "check-windows-sources: no $BUILD_DIR/_deps/civetweb/include; configure the build first" >&2
  exit 1
fi
# Debian's nlohmann-json headers alone, not the rest of /usr/include (glibc's
# headers would shadow mingw's).
JSON_DIR="$(mktemp -d)"
trap 'rm -rf "$JSON_DIR"' EXIT
ln -s /usr/include/nlohmann "$JSON_DIR/nlohmann"
INCLUDES+=(-I"$JSON_DIR")

mapfile -t SOURCES < <(cd "$ROOT" && git ls-files --cached --others --exclude-standard \
                         -- '*_win.cpp' | sort)
if [ ${#SOURCES[@]} -eq 0 ]; then
  echo "check-windows-sources: no Windows sources found"
  exit 0
fi

failed=0
for src in "${SOURCES[@]}"; do
  if "$CXX" -std=c++17 -Wall -Wextra -fsyntax-only "${INCLUDES[@]}" "$ROOT/$src"; then
    echo "ok   $src"
  else
    echo "FAIL $src" >&2
    failed=1
  fi
done
exit $failed

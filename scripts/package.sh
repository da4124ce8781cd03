#!/usr/bin/env bash
# Builds the Debian package in build folder $1 (already built: `make stage`)
# and fails on any lintian error; the warnings and notes that remain are
# explained in README.md ("Install the package").
set -euo pipefail
cd "$1"
deb="$(cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')"
[ -n "$deb" ] || { echo "package: cpack made no package" >&2; exit 1; }
lintian --fail-on error "$deb"
echo "package: $deb"

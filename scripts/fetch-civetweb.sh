#!/usr/bin/env bash
# Fetches Debian's civetweb source package (1.15) into DEST and applies our
# build-time patches. The library's source is never committed.
# usage: fetch-civetweb.sh DEST PATCH_DIR
set -euo pipefail
DEST="$1"
PATCH_DIR="$2"
STAMP="$DEST/.tolvane-patched"

# The stamp holds a digest of the patch set (names and contents, in the
# order applied): a changed, added or removed patch fetches and patches anew.
patch_digest() {
  for p in $(ls "$PATCH_DIR"/*.patch 2>/dev/null | sort); do
    basename "$p"
    cat "$p"
  done | sha256sum | cut -d' ' -f1
}
DIGEST="$(patch_digest)"
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$DIGEST" ]; then
  exit 0
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
(
  cd "$WORK"
  if ! apt-get source --download-only civetweb >/dev/null 2>apt.err; then
    cat apt.err >&2
    echo "fetch-civetweb: apt-get source failed (run scripts/install-deps.sh)" >&2
    exit 1
  fi
  dpkg-source --no-check -x ./civetweb_*.dsc src >/dev/null
)
rm -rf "$DEST"
mkdir -p "$(dirname "$DEST")"
mv "$WORK/src" "$DEST"
for p in $(ls "$PATCH_DIR"/*.patch 2>/dev/null | sort); do
  patch -d "$DEST" -p1 --forward --quiet < "$p"
done
echo "$DIGEST" > "$STAMP"
echo "fetch-civetweb: civetweb source ready in $DEST"

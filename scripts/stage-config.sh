#!/bin/sh
# Puts the default configuration into the staged server directory, leaving a
# file an administrator already changed alone. No certificate is staged: the
# program makes its own key and certificate on its first TLS start.
set -eu
SRC="$1"
DEST="$2"
[ -f "$DEST/ServerConfiguration.json" ] || cp "$SRC/config/ServerConfiguration.json" "$DEST/ServerConfiguration.json"

#!/bin/sh
# Puts the default configuration and a self-signed TLS certificate into the
# staged server directory, leaving files an administrator already changed alone.
set -eu
SRC="$1"
DEST="$2"
[ -f "$DEST/ServerConfiguration.json" ] || cp "$SRC/config/ServerConfiguration.json" "$DEST/ServerConfiguration.json"
if [ ! -f "$DEST/server.pem" ]; then
  "$SRC/scripts/make-cert.sh" "$DEST/server.pem"
fi

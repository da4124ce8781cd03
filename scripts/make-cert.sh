#!/bin/sh
# Writes a self-signed certificate and its private key into one PEM file, the
# form the server's "ssl_certificate" option expects. Only for test fixtures
# and benchmarks: an installation makes its own at its first start.
set -eu
OUT="$1"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 825 \
  -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" \
  -keyout "$TMP/key.pem" -out "$TMP/cert.pem" >/dev/null 2>&1
cat "$TMP/cert.pem" "$TMP/key.pem" > "$OUT"
chmod 600 "$OUT"

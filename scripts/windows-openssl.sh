#!/usr/bin/env bash
# Builds OpenSSL's static libraries for Windows (mingw-w64) from Debian's own
# source package and prints the directory that holds include/ and lib/.
# Debian has no Windows build of OpenSSL; the program links it statically, as
# it does with CivetWeb's source.
#
# The result is cached outside the clone, keyed by the package version, the
# configure options and the compiler: ${TOLVANE_CACHE_DIR:-~/.cache/tolvane}.
# Without a cache entry it is built afresh (a few minutes on two cores).
# usage: windows-openssl.sh
set -euo pipefail

CROSS=x86_64-w64-mingw32-
JOBS="${JOBS:-$(nproc)}"
# Only what the program and the bundled plug-ins use: TLS 1.2/1.3 with the
# default providers. Everything else stays out to keep the build short; only
# the libraries are built (build_libs), neither the tools nor the manuals.
OPTIONS=(mingw64 "--cross-compile-prefix=$CROSS" no-shared no-tests
         no-module no-legacy no-dso no-ssl3 no-dtls no-srp no-psk no-comp no-ct no-ocsp
         no-cms no-ts no-idea no-seed no-camellia no-aria no-sm2 no-sm3 no-sm4 no-whirlpool
         no-md4 no-mdc2 no-rc2 no-rc4 no-rc5 no-bf no-cast no-gost no-siphash no-blake2
         no-scrypt no-ui-console no-capieng no-padlockeng no-afalgeng)

CACHE_ROOT="${TOLVANE_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvane}"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
if ! apt-get source --download-only openssl >apt.log 2>&1; then
  cat apt.log >&2
  echo "windows-openssl: apt-get source openssl failed (run scripts/install-deps.sh)" >&2
  exit 1
fi
DSC="$(ls openssl_*.dsc)"
VERSION="${DSC#openssl_}"
VERSION="${VERSION%.dsc}"
KEY="$( { printf '%s\n' "${OPTIONS[@]}"; "${CROSS}gcc" --version | head -1; } | sha256sum | cut -c1-12)"
PREFIX="$CACHE_ROOT/openssl-mingw64-$VERSION-$KEY"

if [ -f "$PREFIX/.complete" ]; then
  echo "$PREFIX"
  exit 0
fi

echo "windows-openssl: building OpenSSL $VERSION for mingw64 into $PREFIX" >&2
dpkg-source --no-check -x "$DSC" src >/dev/null
cd src
./Configure "${OPTIONS[@]}" >configure.log 2>&1 || { cat configure.log >&2; exit 1; }
make -j"$JOBS" build_libs >build.log 2>&1 || { tail -40 build.log >&2; exit 1; }

# Assemble the prefix beside its final place, then move it in at once, so an
# interrupted build never leaves a half entry that looks complete.
mkdir -p "$CACHE_ROOT"
STAGE="$(mktemp -d "$CACHE_ROOT/.openssl-XXXXXX")"
mkdir -p "$STAGE/include" "$STAGE/lib"
cp -r include/openssl "$STAGE/include/"
cp libssl.a libcrypto.a "$STAGE/lib/"
touch "$STAGE/.complete"
rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
echo "$PREFIX"

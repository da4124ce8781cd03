#!/usr/bin/env bash
# Installs what building and testing need, from Debian's archive; runs apt-get
# only when something is missing, so repeated builds stay offline and fast.
set -euo pipefail

PKGS=(build-essential cmake pkg-config dpkg-dev libssl-dev nlohmann-json3-dev
      libgtest-dev libgmock-dev libcurl4-openssl-dev curl openssl python3
      python3-jsonschema clang-14 libclang-rt-14-dev g++-mingw-w64-x86-64 patch
      xz-utils binutils git ccache
      python3-sushy ansible redfishtool)  # the real clients of conformance.RealClients

. "$(dirname "$0")/apt-missing.sh"
install_missing install-deps "${PKGS[@]}"

# The HTTP library is compiled from Debian's source package; apt-get source
# needs a deb-src entry for bookworm.
if ! grep -rqs "^Types:.*deb-src" /etc/apt/sources.list.d/ && ! grep -qs "^deb-src" /etc/apt/sources.list; then
  echo "install-deps: adding deb-src entries for bookworm"
  $SUDO tee /etc/apt/sources.list.d/tolvane-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $SUDO apt-get update -qq
fi

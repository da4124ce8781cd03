#!/usr/bin/env bash
# Installs what the Windows build and its wine run need, from Debian's
# archive: the mingw-w64 cross compiler (POSIX threads model, for std::thread)
# and wine64. Runs apt-get only when something is missing.
set -euo pipefail

PKGS=(g++-mingw-w64-x86-64-posix wine64 dpkg-dev perl make curl)

# wine64 alone, without its recommends (fonts, gstreamer, ...): the program
# runs headless.
. "$(dirname "$0")/apt-missing.sh"
install_missing windows-deps "${PKGS[@]}"

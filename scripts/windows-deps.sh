#!/usr/bin/env bash
# Installs what the Windows build and its wine run need, from Debian's
# archive: the mingw-w64 cross compiler (POSIX threads model, for std::thread)
# and wine64. Runs apt-get only when something is missing.
set -euo pipefail

PKGS=(g++-mingw-w64-x86-64-posix wine64 dpkg-dev perl make curl)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "windows-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  # wine64 alone, without its recommends (fonts, gstreamer, ...): the program
  # runs headless.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

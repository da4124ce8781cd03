#!/usr/bin/env bash
# Installs what `make package` needs beyond the build, from Debian's archive:
# dpkg-shlibdeps (dpkg-dev) and `file` for the dependencies CPack derives from
# what the program links, and lintian to check the package. Runs apt-get only
# when something is missing.
set -euo pipefail

PKGS=(dpkg-dev file lintian)

. "$(dirname "$0")/apt-missing.sh"
install_missing package-deps "${PKGS[@]}"

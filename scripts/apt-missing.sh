# Sourced by the dependency scripts: install_missing LABEL PACKAGE... installs
# those of the Debian packages that are not installed yet, without their
# recommends; nothing (and no network) when all are there.
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

install_missing() {
  local label="$1" p
  shift
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "$label: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

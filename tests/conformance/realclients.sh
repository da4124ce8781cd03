#!/usr/bin/env bash
# sushy, Ansible's Redfish modules and redfishtool against a throw-away copy
# of the staged install tree in the standard profile (realclients.py).
#   realclients.sh STAGE_DIR
# Exit 77 (skipped) when a client is not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=
/usr/bin/python3 -c 'import sushy' 2>/dev/null || missing+=" python3-sushy"
/usr/bin/python3 -c 'import ansible_collections.community.general' 2>/dev/null ||
  missing+=" ansible"
command -v redfishtool >/dev/null || missing+=" redfishtool"
if [ -n "$missing" ]; then echo "realclients: not installed:$missing: skipped"; exit 77; fi

. "$here/standard-server.sh"
start_standard_server "$1"
# verify=False works only where requests is not handed a CA bundle.
status=0
env -u REQUESTS_CA_BUNDLE -u CURL_CA_BUNDLE /usr/bin/python3 "$here/realclients.py" \
  "https://127.0.0.1:$port" "$password" "$here/known-quirks.txt" || status=$?
check_standard_server
exit "$status"

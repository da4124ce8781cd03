#!/usr/bin/env bash
# The DMTF Service Validator and Protocol Validator against a throw-away copy
# of the staged install tree, which serves the standard profile. Fails on any
# failed check that known-failures.txt does not name.
#   conformance.sh STAGE_DIR VALIDATORS_DIR OUT_DIR
# Exit 77 (skipped) when the validators are not on this machine.
set -euo pipefail
STAGE=$1; VALIDATORS=$2; OUT=$3
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$VALIDATORS/run-validators.sh" ]; then
  echo "conformance: no validators at $VALIDATORS: skipped"
  exit 77
fi

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$STAGE" "$work/tree"
server_dir="$work/tree/RedfishServer"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 - "$server_dir/ServerConfiguration.json" "$port" <<'PY'
import json, sys
path, port = sys.argv[1], int(sys.argv[2])
config = json.load(open(path))
config.update({"CommunicationPortHttps": port, "CommunicationProtocolHttps": True,
               "CommunicationProtocolHttp": False, "RedfishProtocolProfile": "Standard"})
json.dump(config, open(path, "w"), indent=4)
PY

(cd "$server_dir" && exec ./tolvaneredfishserver run >"$work/server.out" 2>&1) &
pid=$!
password=
for _ in $(seq 1 300); do
  if [ -s "$server_dir/InitialAdminPassword.txt" ] &&
     curl -sfk -o /dev/null "https://127.0.0.1:$port/redfish/v1/"; then
    password=$(tr -d '\r\n' <"$server_dir/InitialAdminPassword.txt")
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$password" ]; then
  echo "conformance: the server did not come up"; cat "$work/server.out"; exit 1
fi

rm -rf "$OUT"
# Both validators with a session; the Service Validator again with Basic
# authentication, before the Protocol Validator changes accounts.
status=0
RF_VALIDATORS=rsv RF_AUTH=Basic "$VALIDATORS/run-validators.sh" "https://127.0.0.1:$port" admin \
  "$password" "$OUT/basic" || status=$?
if [ "$status" -lt 2 ]; then
  "$VALIDATORS/run-validators.sh" "https://127.0.0.1:$port" admin "$password" "$OUT" || status=$?
fi
if [ "$status" -ge 2 ]; then
  echo "conformance: the validators could not run (exit $status)"; exit 1
fi
kill -0 "$pid" 2>/dev/null || { echo "conformance: the server ended"; cat "$work/server.out"; exit 1; }

# The Service Validator warns where a client would have to guess: every
# warning is checked below like a failure, so the count must be that of the
# warning lines (a deprecated property that clients still read is a known one).
unknown=0
for run in "$OUT" "$OUT/basic"; do
  warned=$(sed -nE 's/^rsv .*WARN ([0-9]+),.*/\1/p' "$run/summary.txt")
  listed=$(grep -c ' - WARNING - ' "$run/rsv-failures.txt" 2>/dev/null || true)
  if [ "${warned:-none}" != "${listed:-0}" ]; then
    echo "unexpected Service Validator warnings: $(grep '^rsv' "$run/summary.txt")"; unknown=$((unknown + 1))
  fi
done

# Every failed check must be a known one.
for failures in "$OUT"/rsv-failures.txt "$OUT"/rpv-failures.txt "$OUT"/basic/rsv-failures.txt; do
  [ -f "$failures" ] || continue
  tool=$(basename "$failures" -failures.txt)
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    known=0
    while IFS=$'\t' read -r who pattern _reason; do
      case "$who" in ''|'#'*) continue ;; esac
      if [ "$who" = "$tool" ] && grep -Eq -- "$pattern" <<<"$line"; then known=1; break; fi
    done <"$here/known-failures.txt"
    if [ "$known" = 0 ]; then echo "unexpected $tool failure: $line"; unknown=$((unknown + 1)); fi
  done <"$failures"
done
echo "conformance: $unknown unexpected failures (reports in $OUT)"
[ "$unknown" = 0 ]

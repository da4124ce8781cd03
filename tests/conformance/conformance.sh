#!/usr/bin/env bash
# The DMTF Service Validator, Protocol Validator and Interop Validator (with
# the OCP Service Baseline profile) against a throw-away copy of the staged
# install tree, which serves the standard profile. Fails on any failed check
# that known-failures.txt does not name.
#   conformance.sh STAGE_DIR VALIDATORS_DIR OUT_DIR
# Exit 77 (skipped) when the validators are not on this machine.
set -euo pipefail
STAGE=$1; VALIDATORS=$2; OUT=$3
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$VALIDATORS/run-validators.sh" ]; then
  echo "conformance: no validators at $VALIDATORS: skipped"
  exit 77
fi

. "$here/standard-server.sh"
start_standard_server "$STAGE"

rm -rf "$OUT"
# Both validators with a session; the Service and Interop Validators again
# with Basic authentication, before the Protocol Validator changes accounts.
status=0
RF_VALIDATORS="rsv riv" RF_AUTH=Basic "$VALIDATORS/run-validators.sh" \
  "https://127.0.0.1:$port" admin "$password" "$OUT/basic" || status=$?
# The interop profile only reads, so it too goes before the Protocol Validator.
if [ "$status" -lt 2 ]; then
  RF_VALIDATORS=riv "$VALIDATORS/run-validators.sh" "https://127.0.0.1:$port" admin "$password" \
    "$OUT/riv" || status=$?
fi
if [ "$status" -lt 2 ]; then
  "$VALIDATORS/run-validators.sh" "https://127.0.0.1:$port" admin "$password" "$OUT" || status=$?
fi
if [ "$status" -ge 2 ]; then
  echo "conformance: the validators could not run (exit $status)"; exit 1
fi
check_standard_server

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

for run in "$OUT/riv" "$OUT/basic"; do
  if ! grep -q '^riv  PASS' "$run/summary.txt" 2>/dev/null; then
    echo "the Interop Validator gave no summary (see $run/riv.log)"; unknown=$((unknown + 1))
  fi
done

# Every failed check must be a known one.
for failures in "$OUT"/rsv-failures.txt "$OUT"/rpv-failures.txt "$OUT"/basic/rsv-failures.txt \
                "$OUT"/riv/riv-failures.txt "$OUT"/basic/riv-failures.txt; do
  [ -f "$failures" ] || continue
  tool=$(basename "$failures" -failures.txt)
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    # The Interop Validator's count of the lines it listed is no check of its own.
    case "$line" in "Validation has FAILED"*) continue ;; esac
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

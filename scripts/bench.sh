#!/usr/bin/env bash
# The benchmark command: measures the Redfish server against the reference
# server (bench/referenceserver.cpp) in the same run and prints one table with
# the figures, the ratios to the reference and whether each goal is met.
#
# Scenarios: GET of the service root, GET of a plug-in resource (both trace
# records written), login, PATCH; each over HTTP at 16 and 64 clients and over
# TLS with a full handshake per request. Everything runs on 127.0.0.1 on free
# ports, in a temporary install tree, and stops by itself.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUN_SECONDS="${TOLVANE_BENCH_SECONDS:-3}"
WARMUP_SECONDS="${TOLVANE_BENCH_WARMUP:-0.5}"
BUILD_DIR="${TOLVANE_BENCH_BUILD_DIR:-$ROOT/build-bench}"
CLIENT_COUNTS="16 64"
PROTOCOLS="http https"
KINDS="root get login patch"
DO_BUILD=1
INTERFERENCE=1
KEEPALIVE=1
JOBS="${TOLVANE_BENCH_JOBS:-2}"
REPEAT="${TOLVANE_BENCH_REPEAT:-1}"

usage() {
    cat <<'EOF'
usage: scripts/bench.sh [options]

Builds (Release) when needed, starts the reference server and the Redfish
server from a temporary install tree on free loopback ports, runs the load tool
(bench/tolvaneload) for every scenario and prints one table.

  --seconds S       measured seconds per scenario (default 3; env TOLVANE_BENCH_SECONDS)
  --warmup S        unmeasured seconds before each (default 0.5; env TOLVANE_BENCH_WARMUP)
  --repeat N        run every scenario N times, the reference and the server
                    in turn, and report the run with the median req/s
                    (default 1; env TOLVANE_BENCH_REPEAT); steadies figures
                    on a busy machine
  --clients "N M"   client counts (default "16 64")
  --protocols LIST  "http https", "http" or "https" (default both)
  --kinds LIST      of root get login patch (default all four)
  --build-dir DIR   build directory (default build-bench; env TOLVANE_BENCH_BUILD_DIR)
  --no-build        use what the build directory holds
  --no-interference skip the interference scenarios
  --no-keepalive    skip the persistent-connection comparison
  --help            this text

Environment: TOLVANE_BENCH_KEEP=1 keeps the temporary tree (logs, raw
results); TOLVANE_BENCH_GET_URI and TOLVANE_BENCH_PATCH_URI choose other
resources; TOLVANE_BENCH_PATCH_BODY another PATCH body.

Goals (ratios to the reference in the same run): service root req/s at least
0.9 over HTTP and 0.95 over TLS; plug-in GET req/s at least 0.8; p99 latency
at 64 clients at most 1.5 times the reference's; peak RSS under 20 MB; server
CPU per plug-in GET under 1.3 times the reference's per request.

Interference (HTTP, the shipped connection limits): a victim of 2 clients
measures the service root and a plug-in GET alone and then beside each
aggressor (bench/aggressor.py): 8 clients of wrong logins, 8 clients of right
logins, one upload trickling 1 byte per 100 ms, 60 idle connections from
127.0.0.2, 3 clients looping 60 MB firmware images. Goal: the victim's p99 beside an aggressor at most 3 times its p99
alone.

The reference comparisons run the server in the classic profile, whose bytes
the reference sends. Persistent connections (HTTP, 16 clients): the service
root and a plug-in GET in the classic profile, in the standard profile, and
in the standard profile with each client's connection kept alive (goal: at
least twice the classic profile's service root rate).
EOF
}

while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) RUN_SECONDS="$2"; shift 2 ;;
    --warmup) WARMUP_SECONDS="$2"; shift 2 ;;
    --repeat) REPEAT="$2"; shift 2 ;;
    --clients) CLIENT_COUNTS="$2"; shift 2 ;;
    --protocols) PROTOCOLS="$2"; shift 2 ;;
    --kinds) KINDS="$2"; shift 2 ;;
    --build-dir) BUILD_DIR="$2"; shift 2 ;;
    --no-build) DO_BUILD=0; shift ;;
    --no-interference) INTERFERENCE=0; shift ;;
    --no-keepalive) KEEPALIVE=0; shift ;;
    --help | -h) usage; exit 0 ;;
    *) echo "bench: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

die() {
    echo "bench: $*" >&2
    exit 1
}

for cmd in python3 timeout; do
    command -v "$cmd" >/dev/null || die "needs $cmd (scripts/install-deps.sh installs it)"
done
[[ "$RUN_SECONDS" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "bad --seconds $RUN_SECONDS"
[[ "$WARMUP_SECONDS" =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "bad --warmup $WARMUP_SECONDS"
[[ "$REPEAT" =~ ^[1-9][0-9]?$ ]] || die "bad --repeat $REPEAT (1 to 99)"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tolvane-bench.XXXXXX")"
SERVER_PIDS=()

stop_pid() {
    local pid="$1"
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local pid
    for pid in "${SERVER_PIDS[@]:-}"; do
        [ -n "$pid" ] && stop_pid "$pid"
    done
    if [ "${TOLVANE_BENCH_KEEP:-0}" = 1 ]; then
        echo "bench: kept $WORK"
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- Build -------------------------------------------------------------------

SERVER_STATE="ok"
if [ "$DO_BUILD" = 1 ]; then
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
        echo "bench: configuring a Release build in $BUILD_DIR"
        cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >"$WORK/configure.log" 2>&1 ||
            { tail -20 "$WORK/configure.log" >&2; die "configuring $BUILD_DIR failed"; }
    fi
    echo "bench: building the load tool and the reference server"
    cmake --build "$BUILD_DIR" --target tolvaneload tolvanereference -j "$JOBS" \
        >"$WORK/build-tools.log" 2>&1 ||
        { tail -20 "$WORK/build-tools.log" >&2; die "building the load tool or the reference server failed"; }
    echo "bench: building and staging the Redfish server"
    if ! cmake --build "$BUILD_DIR" --target stage -j "$JOBS" >"$WORK/build-server.log" 2>&1; then
        SERVER_STATE="the Redfish server did not build"
        echo "bench: $SERVER_STATE; last lines of the build:" >&2
        tail -15 "$WORK/build-server.log" >&2
    fi
fi
BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || true)"
[ "$BUILD_TYPE" = Release ] ||
    echo "bench: note: $BUILD_DIR is a '${BUILD_TYPE:-unknown}' build, not Release; figures may differ" >&2

LOAD="$BUILD_DIR/bench/tolvaneload"
REFERENCE="$BUILD_DIR/bench/tolvanereference"
STAGE="$BUILD_DIR/stage/RedfishServer"
[ -x "$LOAD" ] && [ -x "$REFERENCE" ] || die "no load tool or reference server in $BUILD_DIR/bench"
if [ "$SERVER_STATE" = ok ]; then
    for f in tolvaneredfishserver WebServerAbstractionModule.so Plugins/LogServicePlugin.so; do
        [ -f "$STAGE/$f" ] || SERVER_STATE="$STAGE/$f is missing"
    done
fi

# --- Helpers -----------------------------------------------------------------

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# Waits until PID listens on PORT; false when it ended or 20 s passed.
wait_port() {
    local pid="$1" port="$2"
    for _ in $(seq 1 200); do
        kill -0 "$pid" 2>/dev/null || return 1
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# The real server's TLS settings, so the reference negotiates the same way.
option_value() {
    # The value follows the name on the same line or on the next one.
    grep -A1 "\"$1\"," "$ROOT/src/redfishserver/httpoptions.cpp" 2>/dev/null | tr '\n' ' ' |
        sed -n 's/^[[:space:]]*"[^"]*",[[:space:]]*"\([^"]*\)",.*$/\1/p'
}
SSL_PROTOCOL_VERSION="$(option_value ssl_protocol_version)"
SSL_CIPHER_LIST="$(option_value ssl_cipher_list)"
SSL_PROTOCOL_VERSION="${SSL_PROTOCOL_VERSION:-3}"
SSL_CIPHER_LIST="${SSL_CIPHER_LIST:-ECDH+AESGCM+AES256:!aNULL:!MD5:!DSS}"

# --- Reference servers (one per protocol) --------------------------------------

sh "$ROOT/scripts/make-cert.sh" "$WORK/server.pem"
mkdir -p "$WORK/results"
declare -A REF_PORT REF_PID
for proto in $PROTOCOLS; do
    port="$(free_port)"
    args=(--port "$port" --error-log "$WORK/reference-$proto.log")
    if [ "$proto" = https ]; then
        args+=(--tls --cert "$WORK/server.pem" --ssl-protocol-version "$SSL_PROTOCOL_VERSION"
            --ssl-cipher-list "$SSL_CIPHER_LIST")
    fi
    "$REFERENCE" "${args[@]}" >"$WORK/reference-$proto.out" 2>&1 &
    pid=$!
    SERVER_PIDS+=("$pid")
    wait_port "$pid" "$port" || { cat "$WORK/reference-$proto.out" >&2; die "the $proto reference server did not start"; }
    REF_PORT[$proto]="$port"
    REF_PID[$proto]="$pid"
done

# --- The Redfish server's install tree -------------------------------------------

INSTALL="$WORK/install/"
SERVER_DIR="${INSTALL}RedfishServer/"
if [ "$SERVER_STATE" = ok ]; then
    mkdir -p "${SERVER_DIR}Plugins" "${INSTALL}logs"
    cp "$STAGE/tolvaneredfishserver" "$STAGE/WebServerAbstractionModule.so" "$SERVER_DIR"
    cp "$STAGE/Plugins/LogServicePlugin.so" "${SERVER_DIR}Plugins/"
    cp "$WORK/server.pem" "${SERVER_DIR}server.pem"
    chmod 600 "${SERVER_DIR}server.pem"
fi

# Writes the default configuration with the protocol and port of this phase;
# a third argument replaces the per-client connection cap, a fourth the
# protocol profile.
write_config() {
    local proto="$1" port="$2" cap="${3:-}" profile="${4:-}"
    python3 - "$ROOT/config/ServerConfiguration.json" "${SERVER_DIR}ServerConfiguration.json" "$proto" "$port" "$cap" "$profile" <<'PY'
import json, sys
src, dest, proto, port, cap, profile = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6]
with open(src) as f:
    config = json.load(f)
config["CommunicationProtocolHttps"] = proto == "https"
config["CommunicationProtocolHttp"] = proto == "http"
config["CommunicationPortHttps" if proto == "https" else "CommunicationPortHttp"] = port
config["CommunicationHostAddressHttps"] = "127.0.0.1"
config["CommunicationHostAddressHttp"] = "127.0.0.1"
# Trace records are written for every mask but 5 and 6; 0 writes them and
# nothing else.
config["RedfishDebugMask"] = 0
if cap:
    config["MaximumConnectionsPerClient"] = int(cap)
if profile:
    config["RedfishProtocolProfile"] = profile
with open(dest, "w") as f:
    json.dump(config, f, indent=4)
PY
}

SERVER_PID=""
SERVER_PORT=""
start_server() {
    local proto="$1" cap="${2:-}" profile="${3:-}"
    SERVER_PORT="$(free_port)"
    write_config "$proto" "$SERVER_PORT" "$cap" "$profile"
    TOLVANE_INSTALL_PATH="$INSTALL" TOLVANE_LOG_DIR="${INSTALL}logs/" \
        "${SERVER_DIR}tolvaneredfishserver" run >"$WORK/server-$proto.out" 2>&1 &
    SERVER_PID=$!
    SERVER_PIDS+=("$SERVER_PID")
    if ! wait_port "$SERVER_PID" "$SERVER_PORT"; then
        echo "bench: the Redfish server did not start over $proto; its output:" >&2
        tail -20 "$WORK/server-$proto.out" >&2
        stop_pid "$SERVER_PID"
        SERVER_PID=""
        return 1
    fi
}

stop_server() {
    [ -n "$SERVER_PID" ] && stop_pid "$SERVER_PID"
    SERVER_PID=""
}

# A login and a look at the drives, to find a resource that PATCH may change.
# Prints the URI, or nothing.
discover_patch_uri() {
    local proto="$1" port="$2" password="$3"
    python3 - "$proto" "$port" "$password" <<'PY' 2>/dev/null || true
import json, ssl, sys, urllib.request
proto, port, password = sys.argv[1], sys.argv[2], sys.argv[3]
base = f"{proto}://127.0.0.1:{port}"
ctx = ssl._create_unverified_context()
body = json.dumps({"UserName": "admin", "Password": password}).encode()
req = urllib.request.Request(base + "/redfish/v1/SessionService/Sessions", data=body,
                             headers={"Content-Type": "application/json"}, method="POST")
with urllib.request.urlopen(req, context=ctx, timeout=10) as r:
    token = r.headers.get("X-Auth-Token", "")
req = urllib.request.Request(base + "/redfish/v1/Chassis/1/Drives", headers={"X-Auth-Token": token})
with urllib.request.urlopen(req, context=ctx, timeout=10) as r:
    members = json.load(r).get("Members", [])
if members:
    print(members[0]["@odata.id"])
PY
}

# Runs the load tool; the RESULT line lands in results/LABEL.REP.kv, the
# whole report in results/LABEL.REP.txt.
run_load() {
    local label="$1" rep="$2" proto="$3" port="$4" pid="$5" clients="$6" kind="$7"
    shift 7
    local args=(--port "$port" --clients "$clients" --duration "$RUN_SECONDS" --warmup "$WARMUP_SECONDS"
        --mix "$kind" --server-pid "$pid" --label "$label" --kv --timeout-ms 30000 "$@")
    [ "$proto" = https ] && args+=(--tls)
    local limit out="$WORK/results/$label.$rep"
    limit="$(python3 -c "print(int($RUN_SECONDS + $WARMUP_SECONDS + 90))")"
    local rc=0
    timeout "$limit" "$LOAD" "${args[@]}" >"$out.txt" 2>&1 || rc=$?
    grep '^RESULT ' "$out.txt" >"$out.kv" || true
    if [ ! -s "$out.kv" ]; then
        echo "bench: $label gave no result (exit $rc): $(tail -1 "$out.txt")" >&2
        echo "NOTE $(tail -1 "$out.txt" | tr -s ' ' | cut -c1-80)" >"$out.kv"
    elif [ "$rc" != 0 ]; then
        grep -E 'first .* error' "$out.txt" | head -2 | sed "s/^ */bench: $label: /" >&2 || true
    fi
    printf 'bench: %-22s %s\n' "$label" "$(sed -n 's/.* ok=\([0-9]*\) rps=\([0-9.]*\).* errors=\([0-9]*\).*/\2 req\/s, \3 errors/p' "$out.kv")"
}

# --- Runs -------------------------------------------------------------------------

GET_URI="${TOLVANE_BENCH_GET_URI:-/redfish/v1/Systems}"
DEFAULT_PATCH_BODY='{"LocationIndicatorActive":false}'
PATCH_BODY="${TOLVANE_BENCH_PATCH_BODY:-$DEFAULT_PATCH_BODY}"
PATCH_URI="${TOLVANE_BENCH_PATCH_URI:-}"
PASSWORD_FILE="${SERVER_DIR}InitialAdminPassword.txt"
echo "bench: ${RUN_SECONDS} s per scenario after ${WARMUP_SECONDS} s warm-up; clients $CLIENT_COUNTS; $PROTOCOLS"

for proto in $PROTOCOLS; do
    server_up=0
    if [ "$SERVER_STATE" = ok ]; then
        # Every load client comes from 127.0.0.1, unlike real clients: the
        # per-address cap is raised for these scenarios. The reference sends
        # the classic profile's bytes; the server is measured in that profile.
        if start_server "$proto" 256 Classic; then
            server_up=1
        else
            SERVER_STATE="the Redfish server did not start (see above)"
        fi
    fi
    password=""
    if [ "$server_up" = 1 ]; then
        # The plug-in starts after the port opens and writes the file then.
        for _ in $(seq 1 150); do
            [ -s "$PASSWORD_FILE" ] && break
            sleep 0.1
        done
        if [ -s "$PASSWORD_FILE" ]; then
            password="$(head -n1 "$PASSWORD_FILE")"
        else
            echo "bench: no $PASSWORD_FILE after start; get, login and patch cannot log in" >&2
        fi
        if [ -z "$PATCH_URI" ] && [ -n "$password" ]; then
            PATCH_URI="$(discover_patch_uri "$proto" "$SERVER_PORT" "$password")"
            [ -n "$PATCH_URI" ] || echo "bench: found no drive to PATCH; patch uses /redfish/v1/Chassis/1/Drives/0" >&2
        fi
    fi
    for clients in $CLIENT_COUNTS; do
      for rep in $(seq 1 "$REPEAT"); do
        run_load "ref-$proto-$clients-root" "$rep" "$proto" "${REF_PORT[$proto]}" "${REF_PID[$proto]}" "$clients" root
        [ "$server_up" = 1 ] || continue
        for kind in $KINDS; do
            extra=()
            case "$kind" in
            get) extra=(--get-uri "$GET_URI") ;;
            patch) extra=(--patch-uri "${PATCH_URI:-/redfish/v1/Chassis/1/Drives/0}" --patch-body "$PATCH_BODY") ;;
            esac
            [ -n "$password" ] && extra+=(--password "$password")
            run_load "srv-$proto-$clients-$kind" "$rep" "$proto" "$SERVER_PORT" "$SERVER_PID" "$clients" "$kind" \
                "${extra[@]}"
        done
      done
    done
    stop_server
done

# --- Interference --------------------------------------------------------------------

# A victim of 2 clients measures KIND for the run's seconds; the RESULT lands
# in results/int-KIND-CONDITION.1.kv.
victim() {
    local kind="$1" condition="$2" token="$3"
    local extra=(--token "$token")
    [ "$kind" = get ] && extra+=(--get-uri "$GET_URI")
    run_load "int-$kind-$condition" 1 http "$SERVER_PORT" "$SERVER_PID" 2 "$kind" "${extra[@]}"
}

AGGRESSOR_PID=""
stop_aggressor() {
    if [ -n "$AGGRESSOR_PID" ]; then
        kill -KILL "$AGGRESSOR_PID" 2>/dev/null || true
        wait "$AGGRESSOR_PID" 2>/dev/null || true
    fi
    AGGRESSOR_PID=""
}

# The aggressor's own client work runs at the lowest priority: it stands for
# clients on other machines, so only what the server does for them competes
# with the victim.
AGGRESSOR=(nice -n 19 python3 "$ROOT/bench/aggressor.py")

# Logs in and prints the token, or nothing.
login_token() {
    python3 - "$SERVER_PORT" "$1" <<'PY' 2>/dev/null || true
import json, sys, urllib.request
port, password = sys.argv[1], sys.argv[2]
body = json.dumps({"UserName": "admin", "Password": password}).encode()
req = urllib.request.Request(f"http://127.0.0.1:{port}/redfish/v1/SessionService/Sessions",
                             data=body, headers={"Content-Type": "application/json"}, method="POST")
with urllib.request.urlopen(req, timeout=30) as r:
    print(r.headers.get("X-Auth-Token", ""))
PY
}

INTERFERENCE_STATE=""
if [ "$INTERFERENCE" = 1 ] && [ "$SERVER_STATE" = ok ]; then
    # The shipped limits: the victim and the login clients stay within
    # 127.0.0.1's share, the idle connections come from 127.0.0.2.
    if start_server http; then
        for _ in $(seq 1 150); do
            [ -s "$PASSWORD_FILE" ] && break
            sleep 0.1
        done
        password="$(head -n1 "$PASSWORD_FILE" 2>/dev/null || true)"
        token="$(login_token "$password")"
        if [ -z "$token" ]; then
            INTERFERENCE_STATE="no login for the victim"
        else
            echo "bench: interference: victim of 2 clients beside each aggressor"
            for condition in none wronglogins logins trickle idle uploads; do
                case "$condition" in
                wronglogins) "${AGGRESSOR[@]}" logins --port "$SERVER_PORT" --clients 8 & ;;
                logins) "${AGGRESSOR[@]}" logins --port "$SERVER_PORT" --clients 8 \
                    --password "$password" & ;;
                trickle) "${AGGRESSOR[@]}" trickle --port "$SERVER_PORT" --token "$token" & ;;
                idle) "${AGGRESSOR[@]}" idle --port "$SERVER_PORT" --count 60 \
                    --source 127.0.0.2 & ;;
                uploads) "${AGGRESSOR[@]}" uploads --port "$SERVER_PORT" --token "$token" \
                    --clients 3 & ;;
                esac
                [ "$condition" = none ] || { AGGRESSOR_PID=$!; sleep 1; }
                victim root "$condition" "$token"
                victim get "$condition" "$token"
                stop_aggressor
            done
        fi
        stop_server
    else
        INTERFERENCE_STATE="the Redfish server did not start"
    fi
fi

# --- Persistent connections --------------------------------------------------------

# The service root and a plug-in GET over HTTP at 16 clients: the classic
# profile (a connection per request), the standard profile with the same
# connections, and the standard profile with each client's connection kept.
KEEPALIVE_STATE=""
if [ "$KEEPALIVE" = 1 ] && [ "$SERVER_STATE" = ok ]; then
    for profile in Classic Standard; do
        if ! start_server http 256 "$profile"; then
            KEEPALIVE_STATE="the Redfish server did not start"
            break
        fi
        for _ in $(seq 1 150); do
            [ -s "$PASSWORD_FILE" ] && break
            sleep 0.1
        done
        token="$(login_token "$(head -n1 "$PASSWORD_FILE" 2>/dev/null || true)")"
        connections="close"
        [ "$profile" = Standard ] && connections="close kept"
        for connection in $connections; do
            extra=()
            [ "$connection" = kept ] && extra+=(--keep-alive)
            run_load "ka-$profile-$connection-root" 1 http "$SERVER_PORT" "$SERVER_PID" 16 root "${extra[@]}"
            run_load "ka-$profile-$connection-get" 1 http "$SERVER_PORT" "$SERVER_PID" 16 get \
                --get-uri "$GET_URI" --token "$token" "${extra[@]}"
        done
        stop_server
    done
fi

# --- Table ------------------------------------------------------------------------

python3 - "$WORK/results" "$PROTOCOLS" "$CLIENT_COUNTS" "$KINDS" "$SERVER_STATE" "$RUN_SECONDS" "${BUILD_TYPE:-unknown}" "$REPEAT" <<'PY'
import os, sys
results, protocols, client_counts, kinds, server_state, seconds, build_type, repeat = sys.argv[1:9]
protocols, client_counts, kinds = protocols.split(), client_counts.split(), kinds.split()

def load_one(path):
    text = open(path).read().strip()
    if text.startswith("NOTE "):
        return {"note": text[5:]}
    fields = {}
    for item in text.split()[1:]:
        key, _, value = item.partition("=")
        fields[key] = value
    return fields

# The repetition with the median req/s (a failed one counts as the lowest).
def load(label):
    runs = []
    rep = 1
    while os.path.exists(os.path.join(results, f"{label}.{rep}.kv")):
        runs.append(load_one(os.path.join(results, f"{label}.{rep}.kv")))
        rep += 1
    if not runs:
        return None
    runs.sort(key=lambda f: float(f.get("rps", -1)))
    return runs[(len(runs) - 1) // 2]

def num(fields, key):
    try:
        return float(fields[key])
    except (KeyError, TypeError, ValueError):
        return None

def ratio(a, b):
    return a / b if a is not None and b else None

def fmt(value, pattern):
    return "-" if value is None else pattern % value

rows, goals = [], []
for proto in protocols:
    for clients in client_counts:
        ref = load(f"ref-{proto}-{clients}-root") or {}
        ref_rps, ref_p99, ref_cpu = num(ref, "rps"), num(ref, "p99_ms"), num(ref, "cpu_us_per_req")
        rows.append(("reference root", proto, clients, ref, None, None, None, ""))
        for kind in kinds:
            srv = load(f"srv-{proto}-{clients}-{kind}")
            if srv is None:
                rows.append((kind, proto, clients, {"note": "not run: " + server_state}, None, None, None, ""))
                continue
            rps, p99, cpu, rss = num(srv, "rps"), num(srv, "p99_ms"), num(srv, "cpu_us_per_req"), num(srv, "rss_peak_kb")
            r_rps, r_p99, r_cpu = ratio(rps, ref_rps), ratio(p99, ref_p99), ratio(cpu, ref_cpu)
            marks = []
            def goal(name, met):
                text = f"{name} {'met' if met else 'NOT met'}" if met is not None else f"{name} ?"
                marks.append(text)
                goals.append((f"{kind} {proto} {clients}", text, met))
            errors = num(srv, "errors")
            if kind == "root":
                limit = 0.9 if proto == "http" else 0.95
                goal(f"req/s>={limit}x", None if r_rps is None else r_rps >= limit)
            if kind == "get":
                goal("req/s>=0.8x", None if r_rps is None else r_rps >= 0.8)
                goal("CPU<1.3x", None if r_cpu is None else r_cpu < 1.3)
            if clients == "64":
                goal("p99<=1.5x", None if r_p99 is None else r_p99 <= 1.5)
            if rss is not None:
                goal("RSS<20MB", rss < 20 * 1024)
            if errors:
                marks.append("ERRORS")
            if not num(srv, "ok") and not errors:
                marks.append("no request ended within the window; try --seconds 10")
            rows.append((kind, proto, clients, srv, r_rps, r_p99, r_cpu, ", ".join(marks)))

print()
runs = f", median of {repeat} runs" if repeat != "1" else ""
print(f"Benchmark: Redfish server vs reference server, {seconds} s per scenario{runs}, {build_type} build, "
      f"{os.cpu_count()} CPUs; ratios are server / reference (same protocol and clients);")
print("TLS rows: a full handshake per request. Latency includes connect and handshake.")
header = f"{'scenario':<15} {'proto':<5} {'cl':>3} {'req/s':>8} {'x ref':>6} {'p50 ms':>7} {'p99 ms':>7} {'x ref':>6} {'max ms':>7} {'RSS MB':>6} {'CPU us':>7} {'x ref':>6} {'err':>5}  goals"
print(header)
print("-" * len(header))
for kind, proto, clients, f, r_rps, r_p99, r_cpu, marks in rows:
    if "note" in f:
        print(f"{kind:<15} {proto:<5} {clients:>3} {f['note']}")
        continue
    rss = num(f, "rss_peak_kb")
    print(f"{kind:<15} {proto:<5} {clients:>3} {fmt(num(f,'rps'),'%8.0f')} {fmt(r_rps,'%6.2f')} "
          f"{fmt(num(f,'p50_ms'),'%7.2f')} {fmt(num(f,'p99_ms'),'%7.2f')} {fmt(r_p99,'%6.2f')} "
          f"{fmt(num(f,'max_ms'),'%7.1f')} {fmt(None if rss is None else rss/1024,'%6.1f')} "
          f"{fmt(num(f,'cpu_us_per_req'),'%7.0f')} {fmt(r_cpu,'%6.2f')} {f.get('errors','-'):>5}  {marks}")
print()
met = sum(1 for _, _, m in goals if m)
unknown = sum(1 for _, _, m in goals if m is None)
print(f"Goals met: {met} of {len(goals)}" + (f" ({unknown} could not be judged)" if unknown else ""))
for where, text, m in goals:
    if not m:
        print(f"  {where}: {text}")
if server_state != "ok":
    print(f"Note: {server_state}; only the reference was measured where rows say so.")
PY

# --- Interference table ---------------------------------------------------------

if [ "$INTERFERENCE" = 1 ]; then
    python3 - "$WORK/results" "${INTERFERENCE_STATE:-$SERVER_STATE}" <<'PY'
import os, sys
results, state = sys.argv[1], sys.argv[2]
conditions = [("none", "alone"), ("wronglogins", "8 clients of wrong logins"),
              ("logins", "8 clients of right logins"), ("trickle", "upload at 1 byte/100 ms"),
              ("idle", "60 idle connections (127.0.0.2)"),
              ("uploads", "3 clients looping 60 MB images")]

def load(label):
    path = os.path.join(results, f"{label}.1.kv")
    if not os.path.exists(path):
        return None
    fields = {}
    for item in open(path).read().split()[1:]:
        key, _, value = item.partition("=")
        fields[key] = value
    return fields

def num(fields, key):
    try:
        return float(fields[key])
    except (KeyError, TypeError, ValueError):
        return None

print()
print("Interference: a victim of 2 clients over HTTP, alone and beside each aggressor;")
print("goal: p99 beside an aggressor at most 3 times the p99 alone (same run).")
header = f"{'victim':<6} {'aggressor':<34} {'req/s':>8} {'p50 ms':>7} {'p99 ms':>7} {'x alone':>7} {'err':>5}  goal"
print(header)
print("-" * len(header))
met = total = 0
for kind in ("root", "get"):
    alone = load(f"int-{kind}-none")
    alone_p99 = num(alone, "p99_ms") if alone else None
    for condition, text in conditions:
        f = load(f"int-{kind}-{condition}")
        if f is None or num(f, "p99_ms") is None:
            print(f"{kind:<6} {text:<34} not run: {state}")
            continue
        p99 = num(f, "p99_ms")
        ratio = p99 / alone_p99 if alone_p99 else None
        goal = ""
        if condition != "none" and ratio is not None:
            total += 1
            met += ratio <= 3
            goal = "met" if ratio <= 3 else "NOT met"
        print(f"{kind:<6} {text:<34} {num(f,'rps'):8.0f} {num(f,'p50_ms'):7.2f} {p99:7.2f} "
              f"{'-' if ratio is None else '%7.2f' % ratio:>7} {f.get('errors','-'):>5}  {goal}")
print(f"Interference goals met: {met} of {total}")
PY
fi

# --- Persistent connections table ------------------------------------------------

if [ "$KEEPALIVE" = 1 ]; then
    python3 - "$WORK/results" "${KEEPALIVE_STATE:-$SERVER_STATE}" <<'PY'
import os, sys
results, state = sys.argv[1], sys.argv[2]

def load(label):
    path = os.path.join(results, f"{label}.1.kv")
    if not os.path.exists(path):
        return {}
    return dict(item.partition("=")[::2] for item in open(path).read().split()[1:])

def num(fields, key):
    try:
        return float(fields[key])
    except (KeyError, ValueError):
        return None

print()
print("Persistent connections: HTTP, 16 clients; goal: the standard profile with")
print("kept connections at least 2x the classic profile's service root rate.")
if state != "ok":
    print(f"  not measured: {state}")
    sys.exit(0)
header = f"{'profile':<9} {'connections':<22} {'GET':<5} {'req/s':>8} {'x classic':>9} {'p50 ms':>7} {'p99 ms':>7} {'err':>5}"
print(header)
print("-" * len(header))
rows = [("Classic", "close", "one per request"), ("Standard", "close", "one per request"),
        ("Standard", "kept", "kept alive")]
for kind in ("root", "get"):
    classic = num(load(f"ka-Classic-close-{kind}"), "rps")
    for profile, connection, text in rows:
        f = load(f"ka-{profile}-{connection}-{kind}")
        rps = num(f, "rps")
        if rps is None:
            print(f"{profile:<9} {text:<22} {kind:<5} {'-':>8}")
            continue
        ratio = f"{rps / classic:.2f}" if classic else "-"
        print(f"{profile:<9} {text:<22} {kind:<5} {rps:>8.0f} {ratio:>9} {num(f, 'p50_ms') or 0:>7.2f} "
              f"{num(f, 'p99_ms') or 0:>7.2f} {f.get('errors', '-'):>5}")
root_classic = num(load("ka-Classic-close-root"), "rps")
root_kept = num(load("ka-Standard-kept-root"), "rps")
if root_classic and root_kept:
    met = "met" if root_kept >= 2 * root_classic else "NOT met"
    print(f"Service root kept alive: {root_kept / root_classic:.2f}x classic, goal >= 2x {met}")
PY
fi

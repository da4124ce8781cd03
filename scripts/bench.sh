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
RESUMPTION=1
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
  --no-keepalive    skip the persistent-connection comparison (and nginx)
  --no-resumption   skip the TLS session resumption rows
  --help            this text

Environment: TOLVANE_BENCH_KEEP=1 keeps the temporary tree (logs, raw
results); TOLVANE_BENCH_GET_URI and TOLVANE_BENCH_PATCH_URI choose other
resources; TOLVANE_BENCH_PATCH_BODY another PATCH body.

Goals (ratios to the reference in the same run): service root req/s at least
0.9 over HTTP and 0.95 over TLS; plug-in GET req/s at least 0.9 over HTTP and
0.8 over TLS; p99 latency at 64 clients at most 1.5 times the reference's;
peak RSS under 20 MB; server CPU per plug-in GET at most 1.3 times the
reference's per request.

TLS resumption (HTTPS, 16 clients, the service root, a new connection per
request): full handshakes, TLS 1.2 resumed from the server's session cache
(session ids, no tickets) and TLS 1.3 resumed by tickets. Goal: resumed at
least 3 times the full-handshake rate.

Interference (HTTP, the shipped connection limits): a victim of 2 clients
measures the service root and a plug-in GET alone and then beside each
aggressor: 8 clients of wrong logins and 8 clients of right logins (the load
tool, which measures their rate too), one upload trickling 1 byte per 100 ms,
60 idle connections from 127.0.0.2, 3 clients looping 60 MB firmware images
(bench/aggressor.py). Goals: the victim's p99 beside the login clients at
most 2 times its p99 alone, beside the others at most 3 times; the right
logins at least 70 per second.

The reference comparisons run the server in the classic profile, whose bytes
the reference sends. Persistent connections (HTTP, 16 clients): the service
root and a plug-in GET in the classic profile, in the standard profile, and
in the standard profile with each client's connection kept alive (goal: at
least twice the classic profile's service root rate). The same load against
Debian's nginx-light (installed when missing) serving the standard service
root, fetched from the running server, as a static file with kept
connections: goals: the kept service root at least 0.8 times nginx's rate, the
kept plug-in GET at least 0.4 times it.
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
    --no-resumption) RESUMPTION=0; shift ;;
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

# The anchor of the persistent-connection comparison: Debian's nginx-light,
# installed like the project's other dependencies, and only when no nginx is.
NGINX=""
if [ "$KEEPALIVE" = 1 ]; then
    if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
        (. "$ROOT/scripts/apt-missing.sh" && install_missing bench nginx-light) >&2 ||
            echo "bench: nginx-light could not be installed; the nginx row is skipped" >&2
    fi
    for candidate in "$(command -v nginx || true)" /usr/sbin/nginx; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            NGINX="$candidate"
            break
        fi
    done
fi

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

# nginx on a free port serving the file $1 as /redfish/v1, as a static site is
# usually served (its descriptor cached, sendfile), connections kept as long as
# the client wants, no access log; sets NGINX_PORT and NGINX_PID.
NGINX_PID=""
NGINX_PORT=""
start_nginx() {
    local document="$1" dir="$WORK/nginx" user_line=""
    mkdir -p "$dir/tmp"
    NGINX_PORT="$(free_port)"
    # Its workers would otherwise switch to a user who cannot read $WORK.
    [ "$(id -u)" = 0 ] && user_line="user root;"
    cat >"$dir/nginx.conf" <<EOF
$user_line
worker_processes auto;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    open_file_cache max=16;
    open_file_cache_valid 60s;
    keepalive_timeout 65s;
    keepalive_requests 1000000;
    client_body_temp_path $dir/tmp;
    proxy_temp_path $dir/tmp;
    fastcgi_temp_path $dir/tmp;
    default_type application/json;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        location = /redfish/v1 { alias $document; }
    }
}
EOF
    "$NGINX" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" -g 'daemon off;' \
        >"$dir/out.log" 2>&1 &
    NGINX_PID=$!
    SERVER_PIDS+=("$NGINX_PID")
    if ! wait_port "$NGINX_PID" "$NGINX_PORT"; then
        echo "bench: nginx did not start; its output:" >&2
        tail -5 "$dir/out.log" "$dir/error.log" >&2 2>/dev/null || true
        stop_pid "$NGINX_PID"
        NGINX_PID=""
        return 1
    fi
}

# Saves the body of a GET of $1 from the running server to $2.
fetch_document() {
    python3 - "$SERVER_PORT" "$1" "$2" <<'PY' 2>/dev/null
import sys, urllib.request
port, path, dest = sys.argv[1], sys.argv[2], sys.argv[3]
with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=30) as r:
    body = r.read()
with open(dest, "wb") as f:
    f.write(body)
PY
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
        --mix "$kind" --label "$label" --kv --timeout-ms 30000 "$@")
    [ -n "$pid" ] && args+=(--server-pid "$pid")
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
    # Clients that reconnect for every request, with a full handshake each
    # time or resuming their last session, per protocol version.
    if [ "$proto" = https ] && [ "$RESUMPTION" = 1 ] && [ "$server_up" = 1 ]; then
        for version in 1.2 1.3; do
            run_load "tls-full-$version" 1 https "$SERVER_PORT" "$SERVER_PID" 16 root \
                --tls-version "$version"
            resume=(--resume)
            [ "$version" = 1.2 ] && resume+=(--no-tickets) # the server's session cache
            run_load "tls-resumed-$version" 1 https "$SERVER_PORT" "$SERVER_PID" 16 root \
                --tls-version "$version" "${resume[@]}"
        done
    fi
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
AGGRESSOR_ENDS=0
stop_aggressor() {
    if [ -n "$AGGRESSOR_PID" ]; then
        # A login aggressor ends by itself after the victim and reports its rate.
        [ "$AGGRESSOR_ENDS" = 1 ] || kill -KILL "$AGGRESSOR_PID" 2>/dev/null || true
        wait "$AGGRESSOR_PID" 2>/dev/null || true
    fi
    AGGRESSOR_PID=""
    AGGRESSOR_ENDS=0
}

# 8 clients of logins through the load tool, so their own rate is measured
# too: a second of warm-up, then as long as both victims run. The RESULT
# lands in results/agg-LABEL.1.kv.
login_aggressor() {
    local label="$1"
    shift
    local seconds
    seconds="$(python3 -c "print(2 * ($RUN_SECONDS + $WARMUP_SECONDS) + 1)")"
    nice -n 19 timeout "$(python3 -c "print(int($seconds + 90))")" "$LOAD" --port "$SERVER_PORT" \
        --clients 8 --mix login --warmup 1 --duration "$seconds" --timeout-ms 30000 \
        --label "agg-$label" --kv "$@" >"$WORK/results/agg-$label.1.txt" 2>&1 &
    AGGRESSOR_PID=$!
    AGGRESSOR_ENDS=1
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

# Makes the account $2 (password $3, role Operator) with the session token $1;
# true when it exists afterwards. The right logins use an account of their
# own: as the victim's, their sessions would push the victim's out.
make_account() {
    python3 - "$SERVER_PORT" "$1" "$2" "$3" <<'PY' 2>/dev/null
import json, sys, urllib.error, urllib.request
port, token, user, password = sys.argv[1:5]
body = json.dumps({"UserName": user, "Password": password, "RoleId": "Operator"}).encode()
req = urllib.request.Request(f"http://127.0.0.1:{port}/redfish/v1/AccountService/Accounts",
                             data=body, method="POST",
                             headers={"Content-Type": "application/json", "X-Auth-Token": token})
try:
    urllib.request.urlopen(req, timeout=30).close()
except urllib.error.HTTPError as e:
    sys.exit(0 if e.code == 409 else 1)
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
            login_user=benchlogins
            login_password="bench-$(date +%s)-pass"
            make_account "$token" "$login_user" "$login_password" ||
                echo "bench: could not make the account $login_user; the right logins will fail" >&2
            # Right logins first: the wrong ones block the address's logins for a while.
            for condition in none logins wronglogins trickle idle uploads; do
                case "$condition" in
                wronglogins) login_aggressor wronglogins --password "not-$password" --expect login=4xx ;;
                logins) login_aggressor logins --user "$login_user" --password "$login_password" ;;
                trickle) "${AGGRESSOR[@]}" trickle --port "$SERVER_PORT" --token "$token" & ;;
                idle) "${AGGRESSOR[@]}" idle --port "$SERVER_PORT" --count 60 \
                    --source 127.0.0.2 & ;;
                uploads) "${AGGRESSOR[@]}" uploads --port "$SERVER_PORT" --token "$token" \
                    --clients 3 & ;;
                esac
                case "$condition" in
                none) ;;
                *logins) sleep 1 ;;
                *) AGGRESSOR_PID=$!; sleep 1 ;;
                esac
                victim root "$condition" "$token"
                victim get "$condition" "$token"
                stop_aggressor
                grep -h '^RESULT ' "$WORK/results/agg-$condition.1.txt" \
                    >"$WORK/results/agg-$condition.1.kv" 2>/dev/null || true
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
NGINX_STATE=""
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
        document="$WORK/serviceroot-$profile.json"
        [ "$profile" = Standard ] && { fetch_document /redfish/v1 "$document" || rm -f "$document"; }
        stop_server
    done
    # The anchor: the same load on the same document from nginx.
    if [ -z "$NGINX" ]; then
        NGINX_STATE="no nginx"
    elif [ ! -s "$WORK/serviceroot-Standard.json" ]; then
        NGINX_STATE="the standard service root could not be fetched"
    elif start_nginx "$WORK/serviceroot-Standard.json"; then
        run_load "ka-nginx-kept-root" 1 http "$NGINX_PORT" "" 16 root --keep-alive
        stop_pid "$NGINX_PID"
        NGINX_PID=""
    else
        NGINX_STATE="nginx did not start"
    fi
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
                limit = 0.9 if proto == "http" else 0.8
                goal(f"req/s>={limit}x", None if r_rps is None else r_rps >= limit)
                goal("CPU<=1.3x", None if r_cpu is None else r_cpu <= 1.3)
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

# --- TLS resumption table ---------------------------------------------------------

if [ "$RESUMPTION" = 1 ] && [[ " $PROTOCOLS " == *" https "* ]]; then
    PYTHONPATH="$ROOT/bench" python3 - "$WORK/results" "$SERVER_STATE" <<'PY'
import sys
from benchresults import Results, heading, num
load, state = Results(sys.argv[1]).load, sys.argv[2]

heading(["TLS resumption: HTTPS, 16 clients, service root, a new connection per request;",
         "goal: a resumed session at least 3x the full-handshake rate of the same version."],
        f"{'handshake':<36} {'req/s':>8} {'x full':>6} {'resumed':>8} {'p50 ms':>7} {'p99 ms':>7} "
        f"{'CPU us':>7} {'err':>5}  goal")
rows = [("1.2", "full", "TLS 1.2 full handshake"),
        ("1.2", "resumed", "TLS 1.2 resumed (server session cache)"),
        ("1.3", "full", "TLS 1.3 full handshake"),
        ("1.3", "resumed", "TLS 1.3 resumed (ticket)")]
met = total = 0
for version, kind, text in rows:
    f = load(f"tls-{kind}-{version}")
    rps = num(f, "rps")
    if rps is None:
        print(f"{text:<36} not run: {state}")
        continue
    full = num(load(f"tls-full-{version}"), "rps")
    ratio = rps / full if full else None
    handshakes, resumed = num(f, "handshakes"), num(f, "resumed")
    share = f"{100 * resumed / handshakes:7.0f}%" if handshakes else "      -"
    goal = ""
    if kind == "resumed":
        total += 1
        ok = ratio is not None and ratio >= 3
        met += ok
        goal = "met" if ok else "NOT met"
    print(f"{text:<36} {rps:8.0f} {'-' if ratio is None else '%6.2f' % ratio:>6} {share:>8} "
          f"{num(f, 'p50_ms') or 0:7.2f} {num(f, 'p99_ms') or 0:7.2f} "
          f"{'-' if num(f, 'cpu_us_per_req') is None else '%7.0f' % num(f, 'cpu_us_per_req'):>7} "
          f"{f.get('errors', '-'):>5}  {goal}")
print(f"TLS resumption goals met: {met} of {total}")
PY
fi

# --- Interference table ---------------------------------------------------------

if [ "$INTERFERENCE" = 1 ]; then
    PYTHONPATH="$ROOT/bench" python3 - "$WORK/results" "${INTERFERENCE_STATE:-$SERVER_STATE}" <<'PY'
import sys
from benchresults import Results, heading, num
load, state = Results(sys.argv[1]).load, sys.argv[2]
# (condition, text, limit of p99 beside it / p99 alone)
conditions = [("none", "alone", None), ("logins", "8 clients of right logins", 2),
              ("wronglogins", "8 clients of wrong logins", 2), ("trickle", "upload at 1 byte/100 ms", 3),
              ("idle", "60 idle connections (127.0.0.2)", 3),
              ("uploads", "3 clients looping 60 MB images", 3)]
MIN_LOGINS = 70

heading(["Interference: a victim of 2 clients over HTTP, alone and beside each aggressor;",
         "goal: p99 beside login clients at most 2 times the p99 alone, beside the others",
         f"at most 3 times (same run); the right logins keep at least {MIN_LOGINS} per second."],
        f"{'victim':<6} {'aggressor':<34} {'req/s':>8} {'p50 ms':>7} {'p99 ms':>7} {'x alone':>7} "
        f"{'err':>5}  goal")
met = total = 0
for kind in ("root", "get"):
    alone_p99 = num(load(f"int-{kind}-none"), "p99_ms")
    for condition, text, limit in conditions:
        f = load(f"int-{kind}-{condition}")
        p99 = num(f, "p99_ms")
        if p99 is None:
            print(f"{kind:<6} {text:<34} not run: {state}")
            continue
        ratio = p99 / alone_p99 if alone_p99 else None
        goal = ""
        if limit is not None and ratio is not None:
            total += 1
            met += ratio <= limit
            goal = f"<={limit}x " + ("met" if ratio <= limit else "NOT met")
        print(f"{kind:<6} {text:<34} {num(f,'rps'):8.0f} {num(f,'p50_ms'):7.2f} {p99:7.2f} "
              f"{'-' if ratio is None else '%7.2f' % ratio:>7} {f.get('errors','-'):>5}  {goal}")
for condition, text in (("logins", "right logins"),
                        ("wronglogins", "wrong logins (answered 4xx)")):
    f = load(f"agg-{condition}")
    rate = num(f, "rps")
    if rate is None:
        print(f"Aggressor's {text}: not measured")
        continue
    line = f"Aggressor's {text}: {rate:.1f}/s, p99 {num(f, 'p99_ms') or 0:.0f} ms, {f.get('errors', '-')} errors"
    if condition == "logins":
        total += 1
        met += rate >= MIN_LOGINS
        line += f", goal >= {MIN_LOGINS}/s " + ("met" if rate >= MIN_LOGINS else "NOT met")
    print(line)
print(f"Interference goals met: {met} of {total}")
PY
fi

# --- Persistent connections table ------------------------------------------------

if [ "$KEEPALIVE" = 1 ]; then
    PYTHONPATH="$ROOT/bench" python3 - "$WORK/results" "${KEEPALIVE_STATE:-$SERVER_STATE}" "$NGINX_STATE" <<'PY'
import sys
from benchresults import Results, num
load, state, nginx_state = Results(sys.argv[1]).load, sys.argv[2], sys.argv[3]

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
nginx = load("ka-nginx-kept-root")
nginx_rps = num(nginx, "rps")
if nginx_rps is None:
    print(f"{'nginx':<9} {'kept alive':<22} {'root':<5} {'-':>8}  not measured: {nginx_state or 'no result'}")
else:
    print(f"{'nginx':<9} {'kept alive':<22} {'root':<5} {nginx_rps:>8.0f} {'-':>9} "
          f"{num(nginx, 'p50_ms') or 0:>7.2f} {num(nginx, 'p99_ms') or 0:>7.2f} {nginx.get('errors', '-'):>5}")
root_classic = num(load("ka-Classic-close-root"), "rps")
root_kept = num(load("ka-Standard-kept-root"), "rps")
get_kept = num(load("ka-Standard-kept-get"), "rps")

def judged(text, value, base, limit):
    if value is None or not base:
        print(f"{text}: not measured, goal >= {limit}x ?")
    else:
        ratio = value / base
        print(f"{text}: {ratio:.2f}x, goal >= {limit}x {'met' if ratio >= limit else 'NOT met'}")

judged("Service root kept alive vs classic service root", root_kept, root_classic, 2)
judged("Service root kept alive vs nginx (16 connections)", root_kept, nginx_rps, 0.8)
judged("Plug-in GET with a session, kept alive, vs nginx's root", get_kept, nginx_rps, 0.4)
PY
fi

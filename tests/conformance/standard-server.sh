# Sourced by the conformance scripts. start_standard_server STAGE_DIR starts a
# throw-away copy of the staged install tree in the standard profile, HTTPS
# only, on a free loopback port, and waits until it answers and has written
# its first admin password. Sets work (a temporary folder), server_dir, port,
# password and pid; the EXIT trap stops the server and removes the copy.
start_standard_server() {
  work=$(mktemp -d)
  pid=
  trap stop_standard_server EXIT
  cp -a "$1" "$work/tree"
  server_dir="$work/tree/RedfishServer"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 - "$server_dir/ServerConfiguration.json" "$port" <<'PY'
import json, sys
path, port = sys.argv[1], int(sys.argv[2])
config = json.load(open(path))
config.update({"CommunicationPortHttps": port, "CommunicationProtocolHttps": True,
               "CommunicationProtocolHttp": False, "RedfishProtocolProfile": "Standard",
               # Tasks end in about a second: an erase of the largest drive,
               # flashing 4 MB; the clients' own image server is on loopback.
               "TaskStorageBytesPerSecond": 1e12, "TaskImageBytesPerSecond": 4e6,
               "UpdateServiceLocalImageSources": True})
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
    echo "the server did not come up"; cat "$work/server.out"; exit 1
  fi
}

# Fails (exit 1, with the server's output) when the server has ended.
check_standard_server() {
  kill -0 "$pid" 2>/dev/null || { echo "the server ended"; cat "$work/server.out"; exit 1; }
}

stop_standard_server() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}

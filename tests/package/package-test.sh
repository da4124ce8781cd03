#!/usr/bin/env bash
# The Debian package built twice (the second with a higher version), checked, installed, started, upgraded,
# started, removed and purged by dpkg --root in a throw-away root; the host's /etc and /var stay untouched.
set -euo pipefail
BUILD="$(cd "$1" && pwd)" NAME=tolvane-redfish-server UNIT=tolvaneredfishserver.service
skip() { echo "SKIP: $*" && exit 77; }
for t in dpkg-deb dpkg-shlibdeps file cpack curl python3 setpriv systemd-sysusers; do command -v $t >/dev/null || skip "no $t"; done
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no package in this build"
[ "$(id -u)" = 0 ] || skip "dpkg gives the files to root and to the service user: run as root"
fail() { echo "FAIL: $*" >&2 && exit 1; }
T="$(mktemp -d /tmp/tolvane-package.XXXXXX)" PID= && chmod 0755 "$T"
trap '[ -z "$PID" ] || kill "$PID"; rm -rf "$T"' EXIT
ROOT="$T/root" && S="$ROOT/var/lib/tolvane/RedfishServer" CONFIG="$ROOT/etc/tolvane/ServerConfiguration.json"
UNITFILE="$ROOT/lib/systemd/system/$UNIT" DROPIN="$ROOT/etc/systemd/system/$UNIT.d/low-port.conf"

V="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$BUILD/CPackConfig.cmake")"
debian() { (cd "$BUILD" && cpack -G DEB -B "$T/$1" -D CPACK_PACKAGE_VERSION="$1" >/dev/null) && echo "$T/$1/${NAME}_$1_$(dpkg --print-architecture).deb"; }
DEB1="$(debian "$V")" DEB2="$(debian "$V+1")"
[ "$(dpkg-deb -c "$DEB1" | awk '$2 == "root/root" && !/^d/ { $2 = $3 = $4 = $5 = ""; print }' | tr -s ' ' | sort)" = "$(sort <<LIST
-rw-r--r-- ./etc/tolvane/ServerConfiguration.json
-rw-r--r-- ./lib/systemd/system/$UNIT
-rw-r--r-- ./usr/lib/sysusers.d/$NAME.conf
-rw-r--r-- ./usr/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so
-rw-r--r-- ./usr/lib/tolvane/RedfishServer/WebServerAbstractionModule.so
-rwxr-xr-x ./usr/lib/tolvane/RedfishServer/tolvaneredfishserver
-rw-r--r-- ./usr/share/doc/$NAME/changelog.gz
-rw-r--r-- ./usr/share/doc/$NAME/copyright
lrwxrwxrwx ./var/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so -> /usr/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so
lrwxrwxrwx ./var/lib/tolvane/RedfishServer/ServerConfiguration.json -> /etc/tolvane/ServerConfiguration.json
lrwxrwxrwx ./var/lib/tolvane/RedfishServer/WebServerAbstractionModule.so -> /usr/lib/tolvane/RedfishServer/WebServerAbstractionModule.so
LIST
)" ] || fail "files: $(dpkg-deb -c "$DEB1")"
dpkg-deb -f "$DEB1" Depends | grep -q 'libc6 (>= .*libssl3 (>= ' || fail "Depends: $(dpkg-deb -f "$DEB1" Depends)"
[ "$(dpkg-deb -I "$DEB1" conffiles)" = /etc/tolvane/ServerConfiguration.json ] || fail "conffiles"
dpkg-deb -e "$DEB1" "$T/control" && for s in postinst prerm postrm; do [ -x "$T/control/$s" ] && sh -n "$T/control/$s" || fail "$s"; done

mkdir -p "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/info" && : >"$ROOT/var/lib/dpkg/status"
dpkgr() { dpkg --root="$ROOT" --log="$T/dpkg.log" --force-script-chrootless --force-depends "$@" >"$T/dpkg.out" 2>&1 || fail "dpkg $*: $(cat "$T/dpkg.out")"; }
dpkgr -i "$DEB1" && grep -qF "$S/InitialAdminPassword.txt" "$T/dpkg.out" || fail "postinst names no password file"
uid="$(awk -F: '$1 == "tolvane" { print $3 }' "$ROOT/etc/passwd")" gid="$(awk -F: '$1 == "tolvane" { print $3 }' "$ROOT/etc/group")"
owned() { [ "$(stat -c '%u %a' "$1")" = "${uid:?no user tolvane} $2" ] || fail "$1: $(stat -c '%u %a' "$1"), not $uid $2"; }
owned "$ROOT/var/lib/tolvane" 700 && owned "$S" 700 && owned "$ROOT/var/log/tolvane" 750
[ -L "$ROOT/etc/systemd/system/multi-user.target.wants/$UNIT" ] && [ ! -e "$DROPIN" ] || fail "not enabled, or CAP_NET_BIND_SERVICE"
# Every setting of the unit that the program's install command writes is in the packaged one.
TOLVANE_SYSTEMD_DIR="$T" TOLVANE_INSTALL_PATH="$T/" "$ROOT/usr/lib/tolvane/RedfishServer/tolvaneredfishserver" install >/dev/null
for key in $(sed -n '/^\[Service\]/,/^\[Install\]/s/=.*//p' "$T/$UNIT"); do grep -q "^$key=" "$UNITFILE" || fail "unit lacks $key"; done

# A local change of the conffile: a free port, and port 80 for plain HTTP.
PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -i "s/\(\"CommunicationPortHttps\": \)8443/\1$PORT/; s/\(\"CommunicationPortHttp\": \)8080/\180/" "$CONFIG"
# As the unit starts it: as tolvane, its environment below the root, the package's links pointed into the root.
start() {
    for l in WebServerAbstractionModule.so Plugins/LogServicePlugin.so ServerConfiguration.json; do ln -sf "$ROOT$(readlink "$S/$l")" "$S/$l"; done
    env $(sed -n "s|^Environment=\(.*\)=/|\1=$ROOT/|p" "$UNITFILE") setpriv --reuid="$uid" --regid="$gid" --clear-groups \
        "$ROOT$(sed -n 's/^ExecStart=//p' "$UNITFILE")" >"$T/server.out" 2>&1 & PID=$!
    until [ "$(curl -ks -o /dev/null -w '%{http_code}' "https://127.0.0.1:$PORT/redfish/v1")" = 200 ]; do
        kill -0 "$PID" 2>/dev/null || fail "the server ended: $(cat "$T/server.out" "$ROOT/var/log/tolvane/RedfishServer.out.log")"
        sleep 0.1
    done
}
stop() { kill -TERM "$PID" && wait "$PID" || fail "the server's stop: $? $(cat "$T/server.out")"; PID=; }
start
for file in server.pem Accounts.json InitialAdminPassword.txt; do owned "$S/$file" 600; done
PW="$(cat "$S/InitialAdminPassword.txt")" SUMS="$(cd "$S" && sha256sum server.pem Accounts.json)"
stop

dpkgr -i "$DEB2" && [ "$(dpkg-query --admindir="$ROOT/var/lib/dpkg" -W -f '${Version}' $NAME)" = "$V+1" ] || fail "not upgraded"
grep -q "\"CommunicationPortHttps\": $PORT" "$CONFIG" || fail "the upgrade replaced the local configuration"
[ "$(cd "$S" && sha256sum server.pem Accounts.json)" = "$SUMS" ] || fail "the upgrade changed the key or the accounts"
grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$DROPIN" || fail "no CAP_NET_BIND_SERVICE for port 80"
start
[ "$(curl -ks -u "admin:$PW" -o /dev/null -w '%{http_code}' "https://127.0.0.1:$PORT/redfish/v1/Systems")" = 200 ] || fail "login"
stop

dpkgr -r $NAME && [ -f "$S/Accounts.json" ] && [ -f "$S/server.pem" ] && [ -f "$CONFIG" ] &&
    [ ! -e "$ROOT/usr/lib/tolvane/RedfishServer/tolvaneredfishserver" ] || fail "the removal deleted state or left the program"
dpkgr -P $NAME
for p in var/lib/tolvane var/log/tolvane etc/tolvane usr/lib/tolvane "${DROPIN#"$ROOT"/}" "etc/systemd/system/multi-user.target.wants/$UNIT"; do
    [ ! -e "$ROOT/$p" ] && [ ! -L "$ROOT/$p" ] || fail "the purge left $p"
done
echo "package: $V installed, started, upgraded to $V+1, removed and purged"

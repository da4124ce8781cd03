#!/usr/bin/env bash
# The Debian package in a throw-away root: built twice (the second time with
# a higher version), its files, control data and unit checked, then installed,
# started, upgraded, started again, removed and purged by dpkg --root, which
# runs the maintainer scripts against that root. The host's /etc and /var
# are not touched. usage: package-test.sh BUILD_DIR
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
skip() { echo "SKIP: $*" && exit 77; }
for tool in dpkg dpkg-deb dpkg-shlibdeps file cpack curl python3 setpriv systemd-sysusers; do
    command -v "$tool" >/dev/null || skip "no $tool"
done
[ -f "$BUILD/CPackConfig.cmake" ] || skip "no package in this build"
[ "$(id -u)" = 0 ] || skip "dpkg gives the files to root and to the service user: run as root"
fail() { echo "FAIL: $*" >&2 && exit 1; }
T="$(mktemp -d /tmp/tolvane-package.XXXXXX)" && chmod 0755 "$T"
PID=
trap '[ -z "$PID" ] || kill "$PID" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$T"' EXIT
ROOT="$T/root" NAME=tolvane-redfish-server UNIT=tolvaneredfishserver.service
S="$ROOT/var/lib/tolvane/RedfishServer" CONFIG="$ROOT/etc/tolvane/ServerConfiguration.json"
DROPIN="$ROOT/etc/systemd/system/$UNIT.d/low-port.conf"

V="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$BUILD/CPackConfig.cmake")"
debian() { (cd "$BUILD" && cpack -G DEB -B "$T/$1" -D CPACK_PACKAGE_VERSION="$1" >/dev/null) && echo "$T/$1/${NAME}_$1_$(dpkg --print-architecture).deb"; }
DEB1="$(debian "$V")" DEB2="$(debian "$V+1")"
[ "$(dpkg-deb -c "$DEB1" | awk '$1 !~ /^d/ { s = $1 " " $2 " " $6 " " $7 " " $8; sub(/ +$/, "", s); print s }' | sort)" = "$(sort <<LIST
-rw-r--r-- root/root ./etc/tolvane/ServerConfiguration.json
-rw-r--r-- root/root ./lib/systemd/system/$UNIT
-rw-r--r-- root/root ./usr/lib/sysusers.d/$NAME.conf
-rw-r--r-- root/root ./usr/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so
-rw-r--r-- root/root ./usr/lib/tolvane/RedfishServer/WebServerAbstractionModule.so
-rw-r--r-- root/root ./usr/share/doc/$NAME/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/$NAME/copyright
-rwxr-xr-x root/root ./usr/lib/tolvane/RedfishServer/tolvaneredfishserver
lrwxrwxrwx root/root ./var/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so -> /usr/lib/tolvane/RedfishServer/Plugins/LogServicePlugin.so
lrwxrwxrwx root/root ./var/lib/tolvane/RedfishServer/ServerConfiguration.json -> /etc/tolvane/ServerConfiguration.json
lrwxrwxrwx root/root ./var/lib/tolvane/RedfishServer/WebServerAbstractionModule.so -> /usr/lib/tolvane/RedfishServer/WebServerAbstractionModule.so
LIST
)" ] || fail "files: $(dpkg-deb -c "$DEB1")"
dpkg-deb -f "$DEB1" Depends | grep -q 'libc6 (>= .*libssl3 (>= ' || fail "Depends: $(dpkg-deb -f "$DEB1" Depends)"
[ "$(dpkg-deb -I "$DEB1" conffiles)" = /etc/tolvane/ServerConfiguration.json ] || fail "conffiles"
dpkg-deb -e "$DEB1" "$T/control"
for script in postinst prerm postrm; do [ -x "$T/control/$script" ] && sh -n "$T/control/$script" || fail "$script"; done

mkdir -p "$ROOT/var/lib/dpkg/updates" "$ROOT/var/lib/dpkg/info" && : >"$ROOT/var/lib/dpkg/status"
dpkgr() { dpkg --root="$ROOT" --log="$T/dpkg.log" --force-script-chrootless --force-depends "$@"; }
dpkgr -i "$DEB1" >"$T/install.out" 2>&1 || fail "install: $(cat "$T/install.out")"
grep -qF "$S/InitialAdminPassword.txt" "$T/install.out" || fail "postinst names no password file"
uid="$(awk -F: '$1 == "tolvane" { print $3 }' "$ROOT/etc/passwd")" gid="$(awk -F: '$1 == "tolvane" { print $3 }' "$ROOT/etc/group")"
[ -n "$uid" ] && [ -n "$gid" ] || fail "no user tolvane"
owned() { [ "$(stat -c '%u %a' "$1")" = "$uid $2" ] || fail "$1: $(stat -c '%u %a' "$1"), not $uid $2"; }
owned "$ROOT/var/lib/tolvane" 700 && owned "$S" 700 && owned "$ROOT/var/log/tolvane" 750
[ -L "$ROOT/etc/systemd/system/multi-user.target.wants/$UNIT" ] || fail "the service is not enabled"
[ ! -e "$DROPIN" ] || fail "CAP_NET_BIND_SERVICE without a port below 1024"
# Every setting of the unit the program's install command writes is in the packaged one.
TOLVANE_SYSTEMD_DIR="$T" TOLVANE_INSTALL_PATH="$T/" TOLVANE_LOG_DIR="$T/logs" "$ROOT/usr/lib/tolvane/RedfishServer/tolvaneredfishserver" install >/dev/null
for key in $(sed -n '/^\[Service\]/,/^\[Install\]/s/^\([A-Za-z]*\)=.*/\1/p' "$T/$UNIT"); do
    grep -q "^$key=" "$ROOT/lib/systemd/system/$UNIT" || fail "the packaged unit lacks $key"
done

# A local change of the conffile: a free port, and port 80 for plain HTTP.
PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -i "s/\"CommunicationPortHttps\": 8443/\"CommunicationPortHttps\": $PORT/; s/\"CommunicationPortHttp\": 8080/\"CommunicationPortHttp\": 80/" "$CONFIG"
# Started as the unit starts it, as tolvane with the unit's environment below
# the root; the package's absolute links are pointed into the root first.
start() {
    for link in WebServerAbstractionModule.so Plugins/LogServicePlugin.so ServerConfiguration.json; do
        ln -sf "$ROOT$(readlink "$S/$link")" "$S/$link"
    done
    env $(sed -n "s|^Environment=\(.*\)=/|\1=$ROOT/|p" "$ROOT/lib/systemd/system/$UNIT") \
        setpriv --reuid="$uid" --regid="$gid" --clear-groups "$ROOT$(sed -n 's/^ExecStart=//p' "$ROOT/lib/systemd/system/$UNIT")" >"$T/server.out" 2>&1 &
    PID=$!
    until [ "$(curl -ks -o /dev/null -w '%{http_code}' "https://127.0.0.1:$PORT/redfish/v1")" = 200 ]; do
        kill -0 "$PID" 2>/dev/null || fail "the server ended: $(cat "$T/server.out" "$ROOT/var/log/tolvane/RedfishServer.out.log")"
        sleep 0.1
    done
}
stop() { kill -TERM "$PID" && wait "$PID" || fail "the server's stop: $?"; PID=; }
start
for file in server.pem Accounts.json InitialAdminPassword.txt; do owned "$S/$file" 600; done
PW="$(cat "$S/InitialAdminPassword.txt")" SUMS="$(cd "$S" && sha256sum server.pem Accounts.json)"
stop

dpkgr -i "$DEB2" >"$T/upgrade.out" 2>&1 || fail "upgrade: $(cat "$T/upgrade.out")"
[ "$(dpkg-query --admindir="$ROOT/var/lib/dpkg" -W -f '${Version}' $NAME)" = "$V+1" ] || fail "not upgraded"
grep -q "\"CommunicationPortHttps\": $PORT" "$CONFIG" || fail "the upgrade replaced the local configuration"
[ "$(cd "$S" && sha256sum server.pem Accounts.json)" = "$SUMS" ] || fail "the upgrade changed the key or the accounts"
grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$DROPIN" || fail "no CAP_NET_BIND_SERVICE for port 80"
start
[ "$(curl -ks -u "admin:$PW" -o /dev/null -w '%{http_code}' "https://127.0.0.1:$PORT/redfish/v1/Systems")" = 200 ] || fail "admin's login after the upgrade"
stop

dpkgr -r $NAME >/dev/null 2>&1
[ -f "$S/Accounts.json" ] && [ -f "$S/server.pem" ] && [ -f "$CONFIG" ] || fail "the removal deleted state or configuration"
[ ! -e "$ROOT/usr/lib/tolvane/RedfishServer/tolvaneredfishserver" ] || fail "the removal left the program"
dpkgr -P $NAME >/dev/null 2>&1
for path in var/lib/tolvane var/log/tolvane etc/tolvane usr/lib/tolvane "${DROPIN#"$ROOT"/}" "etc/systemd/system/multi-user.target.wants/$UNIT"; do
    [ ! -e "$ROOT/$path" ] && [ ! -L "$ROOT/$path" ] || fail "the purge left $path"
done
echo "package: $V installed, started, upgraded to $V+1 and purged"

#!/bin/sh
# Checks that a program exports the functions and class members plug-ins
# link against. usage: check-exports.sh PROGRAM FUNCTIONS MEMBERS
#   FUNCTIONS: one C function name a line (exact dynamic symbol)
#   MEMBERS:   one demangled C++ symbol a line (must occur as written)
set -u
program="$1"
functions="$2"
members="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

nm -D --defined-only "$program" | awk '{print $NF}' > "$work/plain" || exit 2
nm -D --defined-only -C "$program" | cut -d' ' -f3- > "$work/demangled" || exit 2

status=0
count=0
while IFS= read -r name; do
    case "$name" in '#'* | '') continue ;; esac
    count=$((count + 1))
    if ! grep -qx -- "$name" "$work/plain"; then
        echo "not exported: $name"
        status=1
    fi
done < "$functions"
if [ "$count" -ne 86 ]; then
    echo "the function list has $count entries, expected 86"
    status=1
fi
while IFS= read -r member; do
    case "$member" in '#'* | '') continue ;; esac
    if ! grep -qxF -- "$member" "$work/demangled"; then
        echo "not exported: $member"
        status=1
    fi
done < "$members"
[ "$status" -eq 0 ] && echo "all $count functions and the listed members are exported"
exit $status

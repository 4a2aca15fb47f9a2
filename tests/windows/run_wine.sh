#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Windows host test under Wine against pyftpdlib, inside a private
# network namespace with a fresh Wine prefix that is deleted afterwards.
#   run_wine.sh BUILD_DIR          (BUILD_DIR holds Quorvane2.dll and the test)
# Must itself run inside the namespace (see scripts/windows-lane).
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/quorvane-wine.XXXXXX)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
mkdir -p "$work/root/many" "$work/local"
# A folder whose listing is longer than the client holds in memory (the
# test's kMany).
(cd "$work/root/many" && seq -f "more-%.0f" 0 10049 | xargs touch)
# The server lists in its local time, five and a half hours east of UTC, as
# many do: the listing must show the true times all the same.
TZ=IST-5:30 /usr/bin/python3 "$here/../servers/pyftpd_server.py" --root "$work/root" \
    --local-list-times > "$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.1; done

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
wineboot -i >/dev/null 2>&1
# The module and the test side by side, as a host installs them.
cp "$build/Quorvane2.dll" "$build/quorvane_windows_test.exe" "$work/"
# A zone far from UTC: LIST times must come out as on POSIX.
TZ=IST-5:30 wine "$work/quorvane_windows_test.exe" "Z:${work//\//\\}\\root" "Z:${work//\//\\}\\local"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Python, JavaScript and C# examples against a local pyftpdlib, each
# loading the built module by its runtime name, with a device root of its own
# given at run time and a transcript it reads causes from. Checks what each
# printed and what it left on the server and the device. Run as root (a
# private network namespace).
#   tests/hosts/run_examples.sh BUILD_DIR SOURCE_DIR NODE_MODULES [HOST...]
# HOST is python, node or csharp (all three by default).
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
node_modules=$(realpath -m "$3")
shift 3
[ $# -gt 0 ] || set -- python node csharp
hosts=("$@")
work=$(mktemp -d /tmp/quorvane-hosts.XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/server/pub"
printf 'fetched by a foreign host\n' > "$work/server/pub/hello.txt"
# A name beyond ASCII: a host that gets UTF-16 wrong lists it wrong.
printf 'x' > "$work/server/pub/grüße €.txt"
if [[ " ${hosts[*]} " == *" csharp "* ]]; then
    mcs -warnaserror -out:"$work/Example.exe" "$source/examples/csharp/Example.cs"
    cp "$source/examples/csharp/Example.exe.config" "$work/"
fi
export work source build node_modules
timeout 120 unshare --net --fork bash -c '
    set -euo pipefail
    ip link set lo up
    /usr/bin/python3 "$source/tests/servers/pyftpd_server.py" --root "$work/server" > "$work/server.out" 2>&1 &
    trap "kill $! 2>/dev/null" EXIT
    for _ in $(seq 100); do grep -q ready "$work/server.out" && break; sleep 0.1; done
    # The runtime name, as an installed library is found.
    export LD_LIBRARY_PATH=$build QUORVANE_MODULE=libQuorvane2.so.0
    for host in "$@"; do
        device=$work/device-$host
        mkdir -p "$device"
        export QUORVANE_DEVICE_ROOT=$device QUORVANE_TRACE=$work/$host.trace
        case $host in
        python) run=(/usr/bin/python3 "$source/examples/python/example.py") ;;
        node) run=(env NODE_PATH="$node_modules" node "$source/examples/node/example.js") ;;
        csharp) run=(mono "$work/Example.exe") ;;
        esac
        status=0
        printf "secret\n" | "${run[@]}" 127.0.0.1 user /pub hello.txt "\\got-$host.txt" \
            > "$work/$host.out" 2>&1 || status=$?
        sed "s/^/$host: /" "$work/$host.out"
        fail() { echo "$host: $1" >&2; exit 1; }
        # The password never on a command line, nor in what the example printed.
        [[ $(cat "$work/$host.out") != *secret* ]] || fail "printed the password"
        [ "$status" = 0 ] || fail "exit status $status"
        out=$(cat "$work/$host.out")
        for expected in "FTPServerLogIn: 999" "FTPServerFiles: 999" "grüße €.txt" \
            "FTPFileDownload: 999" "FTPFileUpload: 999" "FTPFileDelete: 2 (DELE no-such-file-for-the-example: 550 " "FTPServerLogOut: 999"; do
            [[ $out == *"$expected"* ]] || fail "printed no \"$expected\""
        done
        cmp "$work/server/pub/hello.txt" "$device/got-$host.txt" || fail "downloaded other bytes"
        cmp "$work/server/pub/hello.txt" "$work/server/pub/hello.txt.copy" || fail "uploaded other bytes"
        [ "$(grep -c . "$device/FTPFolder.txt")" = 6 ] || fail "the listing file is not two entries"
        rm "$work/server/pub/hello.txt.copy"
    done
' bash "${hosts[@]}"
echo "the examples in ${hosts[*]} log in, list, download, upload and say why a call failed"

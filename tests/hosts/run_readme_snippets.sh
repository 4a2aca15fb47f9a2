#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the README's snippets as a reader would: every fenced block whose info
# string names a file (```c hello.c) is written to that file, built where it
# must be, and run against `python3 -m pyftpdlib` serving hello.txt on port
# 2121, in a folder of its own. Each must print "download: 999" and leave
# hello.txt there. Run as root (a private network namespace).
#   tests/hosts/run_readme_snippets.sh BUILD_DIR SOURCE_DIR NODE_MODULES
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
node_modules=$(realpath -m "$3")
work=$(mktemp -d /tmp/quorvane-snippets.XXXXXX)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$source/README.md" "$work" <<'EOF'
import os
import re
import sys
readme, work = sys.argv[1:]
blocks = re.findall(r"^```(\w+) (\S+)\n(.*?)^```$", open(readme).read(), re.M | re.S)
for language, name, text in blocks:
    os.makedirs(os.path.join(work, language))
    with open(os.path.join(work, language, name), "w") as f:
        f.write(text)
print("README snippets:", ", ".join(name for _, name, _ in blocks))
EOF
for language in c python js csharp; do
    [ -d "$work/$language" ] || { echo "the README has no $language snippet" >&2; exit 1; }
done
cc -std=c11 -Wall -Wextra -Werror -I"$source/include" -o "$work/c/hello" "$work/c/hello.c" \
    -L"$build" -lQuorvane2
mcs -warnaserror -out:"$work/csharp/hello.exe" "$work/csharp/hello.cs"

mkdir -p "$work/server"
printf 'fetched by a README snippet\n' > "$work/server/hello.txt"
export work build node_modules
timeout 120 unshare --net --fork bash -c '
    set -euo pipefail
    ip link set lo up
    (cd "$work/server" && exec /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 2121) \
        > "$work/server.out" 2>&1 &
    trap "kill $! 2>/dev/null" EXIT
    for _ in $(seq 100); do
        /usr/bin/python3 -c "import socket; socket.create_connection((\"127.0.0.1\", 2121))" \
            2>/dev/null && break
        sleep 0.1
    done
    export LD_LIBRARY_PATH=$build
    for language in c python js csharp; do
        case $language in
        c) run=(./hello) ;;
        python) run=(/usr/bin/python3 hello.py) ;;
        js) run=(env NODE_PATH="$node_modules" node hello.js) ;;
        csharp) run=(mono hello.exe) ;;
        esac
        out=$(cd "$work/$language" && "${run[@]}" 2>&1) || { echo "$language: $out" >&2; exit 1; }
        echo "$language: $out"
        [[ $out == *"download: 999"* ]] || { echo "$language: no \"download: 999\"" >&2; exit 1; }
        cmp "$work/server/hello.txt" "$work/$language/hello.txt"
    done
'
echo "the README's snippets in C, Python, JavaScript and C# build, run and download"

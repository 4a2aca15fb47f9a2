#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages as scripts/package makes them (Release, stripped,
# the device root "/", lintian without errors), unpacks them into a scratch
# root, checks what each holds and depends on, builds the C example against
# the unpacked development files with pkg-config, and runs it and the
# packaged host program against a local server in a private network
# namespace.
#   check_packages.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d "$build/packages.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$source/scripts/package" "$work" "$work/build" > "$work/package.out" 2>&1 ||
    { cat "$work/package.out"; exit 1; }
runtime=$(ls "$work"/libquorvane2-0_*.deb)
dev=$(ls "$work"/libquorvane2-dev_*.deb)
host=$(ls "$work"/quorvane_*.deb)

fail() { echo "FAIL: $*" >&2; exit 1; }
# Whole texts first: "cmd | grep -q" under pipefail fails when grep stops early.
has() { [[ $1 =~ $2 ]]; }
has "$(dpkg-deb -f "$runtime" Depends)" 'libssl3' || fail "the runtime package does not depend on libssl3"
has "$(dpkg-deb -f "$dev" Depends)" 'libquorvane2-0' || fail "the dev package does not depend on the runtime"
has "$(dpkg-deb -f "$host" Depends)" 'libquorvane2-0' || fail "the host package does not depend on the runtime"
runtime_files=$(dpkg-deb -c "$runtime")
dev_files=$(dpkg-deb -c "$dev")
host_files=$(dpkg-deb -c "$host")
has "$runtime_files" 'libQuorvane2\.so\.0' || fail "no libQuorvane2.so.0 in the runtime package"
has "$runtime_files" 'Quorvane2\.h' && fail "the header is in the runtime package"
has "$dev_files" 'include/Quorvane2\.h' || fail "no header in the dev package"
has "$dev_files" 'quorvane2\.pc' || fail "no pkg-config file in the dev package"
has "$host_files" 'usr/bin/quorvane' || fail "no quorvane in the host package"
has "$host_files" 'usr/share/man/man1/quorvane\.1\.gz' || fail "no manual page"
for deb in "$runtime" "$dev" "$host"; do
    name=$(dpkg-deb -f "$deb" Package)
    has "$(dpkg-deb -c "$deb")" "usr/share/doc/$name/copyright" || fail "no copyright in $name"
    has "$(dpkg-deb -c "$deb")" "usr/share/doc/$name/changelog\.gz" || fail "no changelog in $name"
    [ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] || fail "no long description in $name"
done
has "$runtime_files" 'usr/share/doc/libquorvane2-0/README\.md' || fail "no README"
# The library's manual, a page for each function, the examples and the
# users' README with the -dev package.
for file in man/man3/quorvane2\.3\.gz man/man3/FTPFileDownload\.3\.gz \
    doc/libquorvane2-dev/README\.md doc/libquorvane2-dev/docs/link-breaks\.md \
    doc/libquorvane2-dev/examples/c/example\.c doc/libquorvane2-dev/examples/python/example\.py; do
    has "$dev_files" "usr/share/$file" || fail "no $file in the dev package"
done
has "$(dpkg-deb -I "$runtime" shlibs)" '^libQuorvane2 0 libquorvane2-0 \(>= [0-9.]+\)' ||
    fail "no shlibs taking later versions (>=)"
has "$(dpkg-deb -I "$runtime" triggers)" 'activate-noawait ldconfig' || fail "no ldconfig trigger"

root=$work/root
for deb in "$runtime" "$dev" "$host"; do dpkg-deb -x "$deb" "$root"; done
# The installed README speaks to users, not to this source tree's developers.
readme=$(cat "$root/usr/share/doc/libquorvane2-0/README.md")
has "$readme" 'scripts/|build/' && fail "the installed README speaks of the source tree"
has "$(zcat "$root"/usr/share/man/man3/FTPServerLogIn.3.gz)" 'FTPServerLogIn\(' ||
    fail "man FTPServerLogIn does not lead to the library's page"
libdir=$(dirname "$(find "$root" -name 'libQuorvane2.so.0' | head -1)")
for binary in "$libdir/libQuorvane2.so.0" "$root/usr/bin/quorvane"; do
    has "$(file -L "$binary")" ', stripped' || fail "$binary is not stripped"
done
# The packaged program's device root is the device's own, "/", and it names
# the version of the module it loads.
versions=$(env -u QUORVANE_DEVICE_ROOT LD_LIBRARY_PATH="$libdir" "$root/usr/bin/quorvane" --version)
has "$versions" $'\ndevice root /$' || fail "not the device root /: $versions"
has "$versions" 'libQuorvane2\.so\.[0-9.]+, version [0-9]' || fail "no module version: $versions"
# The .pc file names where the package puts things; the unpacked root
# stands in for / here.
pc=$(find "$root" -name quorvane2.pc)
has "$(cat "$pc")" $'^prefix=/usr\n' || fail "the pkg-config file's prefix is not /usr"
export PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR=$root
PKG_CONFIG_PATH=$(dirname "$pc")
# C, not C++: the header and the library serve plain C hosts.
cc -std=c11 -Wall -Wextra -Werror -o "$work/example" "$source/examples/c/example.c" \
    $(pkg-config --cflags --libs quorvane2)

mkdir -p "$work/server/pub"
printf 'fetched by the C example\n' > "$work/server/pub/hello.txt"
export work source root libdir
timeout 60 unshare --net --fork bash -c '
    set -euo pipefail
    ip link set lo up
    /usr/bin/python3 "$source/tests/servers/pyftpd_server.py" --root "$work/server" > "$work/server.out" 2>&1 &
    trap "kill $! 2>/dev/null" EXIT
    for _ in $(seq 100); do grep -q ready "$work/server.out" && break; sleep 0.1; done
    export LD_LIBRARY_PATH=$libdir
    cd "$work"
    printf "secret\n" | ./example 127.0.0.1 user /pub hello.txt example-download.txt > example.out
    cat example.out
    [[ $(cat example.out) =~ "FTPFileDownload: 999" ]]
    [[ $(cat example-download.txt) == "fetched by the C example" ]]
    # The packaged host program finds the packaged module where the loader looks.
    "$root/usr/bin/quorvane" --version
    printf "secret\n" | "$root/usr/bin/quorvane" login 127.0.0.1 user - rm /pub/hello.txt logout
'
echo "the packages install, the C example builds with pkg-config and runs"

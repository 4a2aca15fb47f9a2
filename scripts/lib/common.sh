# SPDX-License-Identifier: MIT
# Shared by the scripts: install missing Debian packages, configure and build.
# shellcheck shell=bash

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Installs the named Debian packages that are not installed yet.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

base_packages=(cmake g++ make libgtest-dev pkg-config python3 python3-pyftpdlib iproute2 util-linux binutils
    libssl-dev openssl python3-openssl python3-cryptography dpkg-dev
    vsftpd libpam-modules libsodium23 libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3)

# proftpd and pure-ftpd conflict with vsftpd (and each other) as installed
# packages, so the interop tests run them unpacked from Debian's packages.
interop_dir=/var/cache/quorvane-servers
ensure_interop_servers() {
    [ -x "$interop_dir/usr/sbin/proftpd" ] && [ -x "$interop_dir/usr/sbin/pure-ftpd" ] &&
        [ -x "$interop_dir/usr/bin/pure-pw" ] && [ -f "$interop_dir/usr/lib/proftpd/mod_tls.so" ] &&
        return 0
    local download packages=(proftpd-core proftpd-mod-crypto pure-ftpd)
    download=$(mktemp -d)
    (cd "$download" && apt-get download -q "${packages[@]}" >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get download -q "${packages[@]}" >/dev/null; })
    mkdir -p "$interop_dir"
    for deb in "$download"/*.deb; do dpkg-deb -x "$deb" "$interop_dir"; done
    rm -rf "$download"
}

# Configures and builds into $1 (created if needed).
build_project() {
    local build_dir=$1
    shift
    cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVANE_DEVICE_ROOT="$build_dir/device" "$@" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)"
}

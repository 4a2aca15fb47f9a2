# SPDX-License-Identifier: MIT
# Shared by the scripts: install missing Debian packages, configure and build,
# run ctest so that a skipped test cannot pass for a passed one.
# shellcheck shell=bash

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Names beyond ASCII cross every lane: UTF-8 whatever locale the machine has
# (a fresh server sets none). C.UTF-8 comes with libc itself.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# Fetches the package lists. A mirror caught mid-sync serves an index that
# does not match its Release file ("Mirror sync in progress?"): try again,
# and after three tries go on with what was fetched (apt keeps what it had);
# an install that then cannot be satisfied still fails the run.
update_package_lists() {
    local try
    for try in 1 2 3; do
        apt-get update -qq && return 0
        echo "apt-get update failed (try $try of 3)" >&2
        [ "$try" -lt 3 ] && sleep 30
    done
    echo "going on with the package lists apt has" >&2
}

# Installs the named Debian packages that are not installed yet. None of them
# brings a daemon: the FTP servers are unpacked, never installed (see
# ensure_interop_servers).
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
    update_package_lists
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What the demo needs: a compiler, OpenSSL, pyftpdlib (with TLS) and a
# private network namespace.
demo_packages=(cmake g++ make pkg-config libssl-dev python3 python3-pyftpdlib python3-openssl
    python3-cryptography iproute2 util-linux)
# What the tests need beside it: GoogleTest; the zone database (hosts in
# zones far from UTC); mount, which gives vsftpd a private pam.d; and the
# libraries the unpacked FTP servers link (vsftpd: libwrap0, libcap2;
# pure-ftpd and proftpd: the rest). A minimal root has none of them.
base_packages=("${demo_packages[@]}" libgtest-dev openssl binutils dpkg-dev tzdata mount
    libpam-modules libwrap0 libcap2 libsodium23 libhiredis0.14 libmemcached11 libmemcachedutil2
    libpcre2-posix3)

# vsftpd, proftpd and pure-ftpd are unpacked from Debian's packages, never
# installed: installed, each would be an FTP daemon enabled at boot on every
# address (and they conflict with one another). The tests start them by path.
interop_dir=/var/cache/quorvane-servers
ensure_interop_servers() {
    [ -x "$interop_dir/usr/sbin/vsftpd" ] && [ -x "$interop_dir/usr/sbin/proftpd" ] &&
        [ -x "$interop_dir/usr/sbin/pure-ftpd" ] && [ -x "$interop_dir/usr/bin/pure-pw" ] &&
        [ -f "$interop_dir/usr/lib/proftpd/mod_tls.so" ] && return 0
    local download packages=(vsftpd proftpd-core proftpd-mod-crypto pure-ftpd)
    download=$(mktemp -d)
    (cd "$download" && apt-get download -q "${packages[@]}" >/dev/null 2>&1 ||
        { update_package_lists && apt-get download -q "${packages[@]}" >/dev/null; })
    mkdir -p "$interop_dir"
    for deb in "$download"/*.deb; do dpkg-deb -x "$deb" "$interop_dir"; done
    rm -rf "$download"
}

# Configures $1 (created if needed) with the rest as cmake arguments.
configure_project() {
    local build_dir=$1
    shift
    cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVANE_DEVICE_ROOT="$build_dir/device" "$@" >/dev/null
}

# Configures and builds everything, the tests included, into $1.
build_project() {
    local build_dir=$1
    shift
    configure_project "$build_dir" -DQUORVANE_BUILD_TESTS=ON "$@"
    cmake --build "$build_dir" -j"$(nproc)"
}

# Tests that skip by design, as extended regular expressions over their
# names; any other skip fails the lane, as a failure does.
intended_skips=(
    # Needs a process that has not loaded the module yet: true under ctest,
    # never in the valgrind lane's single process.
    '^ModuleFrame\.LoadsAndUnloadsWithoutAnyCall$'
)

# The tests that ctest's log $1 lists as not run: skipped or disabled.
skipped_tests() {
    sed -n 's/^[[:space:]]*[0-9]\{1,\} - \(.*[^ ]\) *(\(Skipped\|Disabled\))$/\1/p' "$1"
}

# The tests a gtest XML report $1 lists as skipped (gtest's brief output
# counts them without names).
gtest_skipped() {
    /usr/bin/python3 - "$1" <<'EOF'
import sys
import xml.etree.ElementTree as tree
for case in tree.parse(sys.argv[1]).iter("testcase"):
    if case.get("result") == "skipped" or case.find("skipped") is not None:
        print("%s.%s" % (case.get("classname"), case.get("name")))
EOF
}

# Fails when a test named on standard input skipped without being intended to.
check_skips() {
    local unexpected=() name pattern intended
    while IFS= read -r name; do
        [ -n "$name" ] || continue
        intended=false
        for pattern in "${intended_skips[@]}"; do
            [[ $name =~ $pattern ]] && intended=true
        done
        $intended || unexpected+=("$name")
    done
    [ ${#unexpected[@]} -eq 0 ] && return 0
    echo "these tests skipped, and a skip passes for nothing:" >&2
    printf '  %s\n' "${unexpected[@]}" >&2
    return 1
}

# The tests log $1 lists as failed, one name a line.
failed_tests() {
    sed -n '/^The following tests FAILED:/,$ s/^[[:space:]]*[0-9]\{1,\} - \(.*[^ ]\) *([^()]*)$/\1/p' "$1"
}

# A ctest -R pattern matching exactly the names on standard input.
exact_names_pattern() {
    local names
    names=$(sed 's/[][\\.*^$+?(){}|]/\\&/g' | paste -sd '|')
    printf '^(%s)$' "$names"
}

# Runs the tests of build $1 (the rest are ctest's arguments), output also in
# $1/ctest.log; fails on a failure, on no tests at all, and on an unintended skip.
run_ctest() {
    local dir=$1
    shift
    local log=$dir/ctest.log
    # ctest's own status, whatever the caller's pipefail.
    { ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" 2>&1; echo $? > "$log.status"; } |
        tee "$log"
    [ "$(cat "$log.status")" = 0 ] || return 1
    skipped_tests "$log" | check_skips
}

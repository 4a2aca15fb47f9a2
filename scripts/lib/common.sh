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

base_packages=(cmake g++ make libgtest-dev pkg-config python3 python3-pyftpdlib iproute2 util-linux binutils)

# Configures and builds into $1 (created if needed).
build_project() {
    local build_dir=$1
    shift
    cmake -S "$repo_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVANE_DEVICE_ROOT="$build_dir/device" "$@" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)"
}

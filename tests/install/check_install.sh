#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built tree into a scratch prefix and builds a tiny host against
# it twice: with find_package and with pkg-config. Both must run.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$source/tests/install" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
LD_LIBRARY_PATH=$prefix/lib "$work/cmake-host/host"

libdir=$(dirname "$(find "$prefix" -name quorvane2.pc)")
export PKG_CONFIG_PATH=$libdir
c++ -std=c++20 -o "$work/pc-host" "$source/tests/install/host.cpp" $(pkg-config --cflags --libs quorvane2)
LD_LIBRARY_PATH=$prefix/lib:$(pkg-config --variable=libdir quorvane2) "$work/pc-host"
echo "installed tree works with find_package and pkg-config"

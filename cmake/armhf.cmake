# SPDX-License-Identifier: MIT
# Cross-compiling for 32-bit ARM (the device's architecture) with Debian's
# armhf toolchain; binaries run under qemu-user, never through binfmt (not
# registered on these machines). There long, time_t and off_t are 32-bit and
# char is unsigned: the project builds with 64-bit offsets and times.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_NM arm-linux-gnueabihf-nm)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C library comes from the cross root, where the cross loader belongs:
# libssl3:armhf brings Debian's own armhf C library along, whose newer build
# the cross loader would otherwise pick through the shared library cache.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf
    -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib:/usr/lib/arm-linux-gnueabihf)
# GoogleTest is built from its sources with this compiler, never the host's.
set(QUORVANE_GTEST_FROM_SOURCE ON CACHE BOOL "" FORCE)
# OpenSSL for armhf comes from Debian's multiarch package (libssl-dev:armhf),
# outside the cross root; its headers are shared but for the per-architecture
# ones the cross compiler finds in /usr/include/arm-linux-gnueabihf.
set(OPENSSL_INCLUDE_DIR /usr/include CACHE PATH "")
set(OPENSSL_SSL_LIBRARY /usr/lib/arm-linux-gnueabihf/libssl.so CACHE FILEPATH "")
set(OPENSSL_CRYPTO_LIBRARY /usr/lib/arm-linux-gnueabihf/libcrypto.so CACHE FILEPATH "")

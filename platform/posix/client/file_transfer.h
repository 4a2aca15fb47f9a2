// SPDX-License-Identifier: MIT
// Moving the bytes of one transfer over a data connection. Memory stays fixed
// whatever the file's size; a connection idle for the inactivity limit fails,
// one that is slow but moving does not.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "posix/net/channel.h"

namespace quorvane::client {

inline constexpr auto kDataInactivityTimeout = std::chrono::seconds(60);

// A local file on one side of a transfer: its descriptor, and its name for
// saying what went wrong with it.
struct LocalFile {
    int fd;
    const std::string& name;
};

// Copies the data connection into `file` from its byte `at` on until the
// server ends the stream (a TLS stream cut off without close_notify is a
// broken connection), with `bytes` counting what arrived. A file `flushing`
// to the disk at the end starts writing it out on the way.
// `written`, if set, hears where the file's data now ends after each piece.
using OnWritten = std::function<void(std::uint64_t end)>;
Outcome<> receiveToFile(Channel& data, const LocalFile& file, std::uint64_t at, bool flushing,
                        std::uint64_t& bytes, const OnWritten& written = {});

// The first `length` bytes of a resumed download, which the file already
// holds from `at` on: true when they are the same, and then whatever came
// beyond them is written after them (from `at + length`), `bytes` counting it.
Outcome<bool> receiveOverlap(Channel& data, const LocalFile& file, std::uint64_t at,
                             std::size_t length, std::uint64_t& bytes);

// Sends `file` from `offset` to its end over the data connection, with
// `bytes` counting what went.
Outcome<> sendFromFile(const LocalFile& file, Channel& data, std::uint64_t& bytes,
                       std::uint64_t offset = 0);

// Downloads on plain channels go socket to file with splice where the file
// system supports it, with a copy through memory where it does not; off,
// they copy (tests use this to run the copying path anywhere).
void setZeroCopy(bool enabled);

}  // namespace quorvane::client

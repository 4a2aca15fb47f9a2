// SPDX-License-Identifier: MIT
// One attempt at a transfer, in the order ftplib's ntransfercmd gives it:
// what the server says of the file (asked with the passive address, in one
// write), REST where the attempt starts further on, the command and its 1xx,
// the bytes, the end of the stream, the completion. It says how it ended;
// what follows is the loop's (download.cpp, upload.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "posix/client/file_identity.h"
#include "posix/net/channel.h"

namespace quorvane::client {

enum class AttemptEnd {
    Completed,  // the stream ended and the server confirmed it
    Unconfirmed,  // the stream ended cleanly, but the completion never came
    Broken,  // a connection broke, stalled or ended short
    RestRefused,  // the restart offset was refused; nothing else was sent
    Refused,  // the server refused the command, or failed it after the stream
    Changed,  // the file is not the one the transfer is about; nothing was sent
};

struct AttemptResult {
    AttemptEnd end = AttemptEnd::Completed;
    Outcome<> outcome;  // why it did not complete
    FileIdentity identity;  // what the server said of the file first
    std::uint64_t offset = 0;  // where in the file it started
    std::uint64_t moved = 0;  // the bytes it moved
    std::optional<std::uint64_t> announced;  // the file's size, as the 1xx gave it
};

// What one attempt does.
struct AttemptPlan {
    std::string_view verb;  // RETR or STOR
    std::string_view remote;
    bool sending = false;
    // Where to start, given what the server says of the file now; nothing
    // when that is not the file the transfer is about.
    std::function<std::optional<std::uint64_t>(const FileIdentity&)> startAt;
    // Moves the bytes from `offset` on, counting them in `moved`.
    std::function<Outcome<>(Channel& data, std::uint64_t offset, std::uint64_t& moved)> move;
    // After a break: no wait before the first byte moves again lasts past it.
    std::optional<Deadline> wayBack;
    // An attempt that starts further on appends (APPE) instead of REST.
    bool appendWhenResumed = false;
};

}  // namespace quorvane::client

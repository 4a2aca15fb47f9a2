// SPDX-License-Identifier: MIT
// The size a "213" reply to SIZE reports (RFC 3659 section 4): "213 1234".
#pragma once

#include <cstdint>
#include <optional>

#include "posix/wire/reply_reader.h"

namespace quorvane::client {

std::optional<std::uint64_t> parseSizeReply(const Reply& reply);

}  // namespace quorvane::client

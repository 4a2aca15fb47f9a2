// SPDX-License-Identifier: MIT
// Parsers for the replies that announce a passive data port. Only the port is
// ever taken: the data connection goes to the control connection's peer, so a
// hostile 227 cannot point us at another host.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane::client {

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the first run of six
// comma-separated numbers, each 0-255, wherever it stands in the reply
// (servers vary the wording and the brackets). Port 0 is refused.
std::optional<std::uint16_t> parsePasvPort(std::string_view reply);

// "229 Entering Extended Passive Mode (|||6446|)" (RFC 2428): the delimiter
// is whatever character follows the bracket, the port must lie in 1-65535.
std::optional<std::uint16_t> parseEpsvPort(std::string_view reply);

// The size announced by "150 Opening BINARY mode data connection for f (1234 bytes)."
// for the file `name`: only at the end of the reply, after the name, where
// servers put it; never a bracket that belongs to the name itself.
std::optional<std::uint64_t> parseAnnouncedSize(std::string_view reply, std::string_view name);

}  // namespace quorvane::client

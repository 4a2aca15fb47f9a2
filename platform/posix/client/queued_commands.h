// SPDX-License-Identifier: MIT
// Which servers take commands queued behind one another in one write. Most
// do; one found to lose them (it answers the first and never the rest) gets
// one command at a time from then on, on every connection to it, for as long
// as the module stays loaded.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane::client {

// What a server is remembered by: "host:port" as the caller named it.
std::string serverKey(const std::string& host, std::uint16_t port);

bool takesQueuedCommands(const std::string& server);
void rememberLosesQueuedCommands(const std::string& server);

}  // namespace quorvane::client

// SPDX-License-Identifier: MIT
// Which servers take commands queued behind one another in one write. Most
// do; one found to lose them (it answers the first and never the rest) gets
// one command at a time from then on, on every connection to it, for as long
// as the module stays loaded.
#pragma once

#include <string>

namespace quorvane::client {

// `server` is "host:port" as the caller named it.
bool takesQueuedCommands(const std::string& server);
void rememberLosesQueuedCommands(const std::string& server);

}  // namespace quorvane::client

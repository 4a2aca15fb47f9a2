// SPDX-License-Identifier: MIT
#include "posix/client/queued_commands.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <mutex>

namespace quorvane::client {
namespace {

// A host may name any number of servers over the module's life; the memory
// stays small, the oldest forgotten first (it then costs one more fallback).
constexpr std::size_t kServersRemembered = 64;

struct OneAtATime {
    std::mutex mutex;
    std::deque<std::string> servers;
};

OneAtATime& oneAtATime()
{
    static OneAtATime servers;
    return servers;
}

}  // namespace

std::string serverKey(const std::string& host, std::uint16_t port)
{
    return host + ':' + std::to_string(port);
}

bool takesQueuedCommands(const std::string& server)
{
    OneAtATime& known = oneAtATime();
    const std::lock_guard lock(known.mutex);
    return std::find(known.servers.begin(), known.servers.end(), server) == known.servers.end();
}

void rememberLosesQueuedCommands(const std::string& server)
{
    OneAtATime& known = oneAtATime();
    const std::lock_guard lock(known.mutex);
    if (std::find(known.servers.begin(), known.servers.end(), server) != known.servers.end())
        return;
    if (known.servers.size() == kServersRemembered)
        known.servers.pop_front();
    known.servers.push_back(server);
}

}  // namespace quorvane::client

// SPDX-License-Identifier: MIT
// The passive-reply parsers on arbitrary text: never port 0, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "posix/wire/passive_reply.h"

using namespace quorvane::client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    if (const auto port = parsePasvPort(reply); port && *port == 0)
        std::abort();
    if (const auto port = parseEpsvPort(reply); port && *port == 0)
        std::abort();
    // The first line doubles as the name the client asked for.
    parseAnnouncedSize(reply, reply.substr(0, reply.find('\n')));
    return 0;
}

// The server argument on arbitrary text: a URL it accepts names a host and
// nothing more, so nothing after the host can reach the resolver.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/server_argument.h"

using quorvane::text::parseServerArgument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view argument(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseServerArgument(argument);
    if (!parsed || argument.find("://") == std::string_view::npos) {
        if (parsed && (parsed->tls || parsed->host != argument))
            std::abort();  // a bare host passes unchanged, never as TLS
        return 0;
    }
    if (parsed->host.empty() || parsed->host.find_first_of("/@?# \\") != std::string::npos)
        std::abort();
    // The same host in the other scheme parses to the same host.
    const bool ipv6 = parsed->host.find(':') != std::string::npos;
    const std::string again = std::string(parsed->tls ? "ftp://" : "ftpes://") +
                              (ipv6 ? "[" + parsed->host + "]" : parsed->host);
    const auto reparsed = parseServerArgument(again);
    if (!reparsed || reparsed->host != parsed->host || reparsed->tls == parsed->tls)
        std::abort();
    return 0;
}

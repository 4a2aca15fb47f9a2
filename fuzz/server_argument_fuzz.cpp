// SPDX-License-Identifier: MIT
// The server argument on arbitrary text: a URL or HOST:PORT it accepts names
// a host (and a port) and nothing more, so nothing after the host, and no
// user information, can reach the resolver.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/server_argument.h"

using quorvane::text::parseServerArgument;
using quorvane::text::Security;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view argument(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseServerArgument(argument);
    if (parsed && argument.find('@') != std::string_view::npos)
        std::abort();  // user information never reaches the resolver
    const bool bareHost = parsed && argument.find("://") == std::string_view::npos &&
                          parsed->host == argument && !parsed->port;
    if (!parsed || bareHost) {
        if (parsed && parsed->security != Security::Plain)
            std::abort();  // a bare host passes unchanged, never as TLS
        return 0;
    }
    if (argument.find("://") == std::string_view::npos && parsed->security != Security::Plain)
        std::abort();  // HOST:PORT is plain FTP
    if (parsed->host.empty() || parsed->host.find_first_of("/@?# \\") != std::string::npos)
        std::abort();
    if (parsed->port && *parsed->port == 0)
        std::abort();
    // The same host and port in another scheme parse to the same; a plain
    // argument without a port, as ftps://, gets that scheme's own.
    const bool ipv6 = parsed->host.find(':') != std::string::npos;
    const bool plain = parsed->security == Security::Plain;
    std::string again = std::string(plain ? "ftps://" : "ftp://") +
                        (ipv6 ? "[" + parsed->host + "]" : parsed->host);
    if (parsed->port)
        again += ":" + std::to_string(*parsed->port);
    const auto reparsed = parseServerArgument(again);
    const std::optional<std::uint16_t> port =
        parsed->port || !plain ? parsed->port : quorvane::text::kImplicitTlsPort;
    if (!reparsed || reparsed->host != parsed->host || reparsed->port != port ||
        (reparsed->security == Security::Plain) == plain)
        std::abort();
    return 0;
}

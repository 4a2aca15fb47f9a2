// The server argument of a log-in: a host as it always was, or a URL that
// also says whether the session must be protected by TLS.
//   HOST                plain FTP, the argument passed on unchanged
//   ftp://HOST[/]       plain FTP
//   ftpes://HOST[/]     explicit TLS (AUTH TLS on port 21), required
// The scheme is case-insensitive; in a URL, HOST is a name, an IPv4 literal
// or a bracketed IPv6 literal. A URL with anything else (a port, a path,
// user information, a query) and any other scheme, ftps:// (implicit TLS on
// port 990) among them, is refused: no host name holds "://".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::text {

struct ServerArgument {
    std::string host;  // as getaddrinfo takes it: "::1", not "[::1]"
    bool tls = false;

    bool operator==(const ServerArgument&) const = default;
};

std::optional<ServerArgument> parseServerArgument(std::string_view argument);

}  // namespace quorvane::text

// SPDX-License-Identifier: MIT
// The server argument of a log-in: a host as it always was, or a URL that
// also says whether the session must be protected by TLS, and may name a
// port.
//   HOST                      plain FTP on port 21, the argument passed on unchanged
//   HOST:PORT                 as ftp://HOST:PORT (a bare IPv6 literal stays a host)
//   ftp://HOST[:PORT][/]      plain FTP
//   ftpes://HOST[:PORT][/]    explicit TLS (AUTH TLS), required
//   ftps://HOST[:PORT][/]     implicit TLS (TLS from the first byte), port 990 unless given
// The scheme is case-insensitive; in a URL, HOST is a name, an IPv4 literal
// or a bracketed IPv6 literal, and PORT is 1-65535. A URL with anything else
// (a path, user information, a query) and any other scheme is refused: no
// host name holds "://", nor "@", which in "user:secret@host" would carry a
// password to the resolver and every message that names the server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::text {

enum class Security { Plain, ExplicitTls, ImplicitTls };

inline constexpr std::uint16_t kImplicitTlsPort = 990;

struct ServerArgument {
    std::string host;  // as getaddrinfo takes it: "::1", not "[::1]"
    Security security = Security::Plain;
    // As the URL gave it, else the scheme's own (990 for ftps://); none
    // where the caller's port stands (a bare host, ftp://, ftpes://).
    std::optional<std::uint16_t> port;

    bool operator==(const ServerArgument&) const = default;
};

std::optional<ServerArgument> parseServerArgument(std::string_view argument);

// The argument fit to be written anywhere: everything up to its last "@"
// (user information, a password) replaced by "***".
std::string withoutUserInformation(std::string_view argument);

}  // namespace quorvane::text

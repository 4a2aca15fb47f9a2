#include "common/server_argument.h"

#include <algorithm>

#include "common/ascii.h"

namespace quorvane::text {
namespace {

// A host name or IPv4 literal: no character that would start a port, a path,
// user information, a query or a fragment, and no blank or control.
bool isHostName(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7F &&
               std::string_view(":/\\@?#[]%").find(c) == std::string_view::npos;
    });
}

// What may stand between the brackets of an IPv6 literal; the resolver
// checks the rest.
bool isIpv6Literal(std::string_view host)
{
    return host.find(':') != std::string_view::npos &&
           std::all_of(host.begin(), host.end(), [](char c) {
               return (c >= '0' && c <= '9') || (asciiLower(c) >= 'a' && asciiLower(c) <= 'f') ||
                      c == ':' || c == '.';
           });
}

}  // namespace

std::optional<ServerArgument> parseServerArgument(std::string_view argument)
{
    const std::size_t separator = argument.find("://");
    if (separator == std::string_view::npos)
        return ServerArgument{std::string(argument), false};  // a host, as always

    const std::string_view scheme = argument.substr(0, separator);
    ServerArgument parsed;
    if (equalsIgnoringCase(scheme, "ftpes"))
        parsed.tls = true;
    else if (!equalsIgnoringCase(scheme, "ftp"))
        return std::nullopt;  // ftps:// (implicit TLS, port 990) among others

    std::string_view host = argument.substr(separator + 3);
    if (!host.empty() && host.back() == '/')
        host.remove_suffix(1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (!isIpv6Literal(host))
            return std::nullopt;
    } else if (!isHostName(host)) {
        return std::nullopt;
    }
    parsed.host = std::string(host);
    return parsed;
}

}  // namespace quorvane::text

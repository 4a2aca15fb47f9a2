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

// "PORT" after the host's colon: 1-65535, digits only.
std::optional<std::uint16_t> portOf(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// What follows "scheme://": HOST[:PORT][/].
std::optional<ServerArgument> parseAuthority(std::string_view host, Security security)
{
    ServerArgument parsed;
    parsed.security = security;
    if (!host.empty() && host.back() == '/')
        host.remove_suffix(1);
    // The port follows the last colon after the host: after "]" for a
    // bracketed literal, the only colon otherwise.
    const std::size_t closing = host.size() > 2 && host.front() == '[' ? host.find(']') : 0;
    if (closing == std::string_view::npos)
        return std::nullopt;
    const std::size_t colon = host.find(':', closing);
    if (colon != std::string_view::npos) {
        if (!(parsed.port = portOf(host.substr(colon + 1))))
            return std::nullopt;
        host = host.substr(0, colon);
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (!isIpv6Literal(host))
            return std::nullopt;
    } else if (!isHostName(host)) {
        return std::nullopt;
    }
    parsed.host = std::string(host);
    if (!parsed.port && security == Security::ImplicitTls)
        parsed.port = kImplicitTlsPort;
    return parsed;
}

}  // namespace

std::optional<ServerArgument> parseServerArgument(std::string_view argument)
{
    const std::size_t separator = argument.find("://");
    if (separator == std::string_view::npos) {
        if (argument.find('@') != std::string_view::npos)
            return std::nullopt;
        // One colon is a port, as curl and browsers read it, and so is one
        // after a bracketed literal; a bare IPv6 literal has more.
        if (std::count(argument.begin(), argument.end(), ':') == 1 || argument.substr(0, 1) == "[")
            return parseAuthority(argument, Security::Plain);
        return ServerArgument{std::string(argument), Security::Plain, std::nullopt};  // as always
    }
    const std::string_view scheme = argument.substr(0, separator);
    if (equalsIgnoringCase(scheme, "ftpes"))
        return parseAuthority(argument.substr(separator + 3), Security::ExplicitTls);
    if (equalsIgnoringCase(scheme, "ftps"))
        return parseAuthority(argument.substr(separator + 3), Security::ImplicitTls);
    if (equalsIgnoringCase(scheme, "ftp"))
        return parseAuthority(argument.substr(separator + 3), Security::Plain);
    return std::nullopt;
}

std::string withoutUserInformation(std::string_view argument)
{
    const std::size_t at = argument.rfind('@');
    if (at == std::string_view::npos)
        return std::string(argument);
    const std::size_t separator = argument.find("://");
    const std::size_t start =
        separator != std::string_view::npos && separator < at ? separator + 3 : 0;
    return std::string(argument.substr(0, start)) + "***" + std::string(argument.substr(at));
}

}  // namespace quorvane::text

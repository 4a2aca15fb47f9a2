#include "posix/wire/passive_reply.h"

#include <array>

#include "posix/wire/digits.h"

namespace quorvane::client {
namespace {

// Reads a decimal number of at most `maxDigits` digits at `pos`.
std::optional<std::uint32_t> readNumber(std::string_view text, std::size_t& pos,
                                        std::size_t maxDigits)
{
    const std::string_view digits = digitsAt(text, pos);
    if (digits.empty() || digits.size() > maxDigits)
        return std::nullopt;
    pos += digits.size();
    return static_cast<std::uint32_t>(*parseDecimal(digits));
}

// Six numbers 0-255 separated by commas, starting at `pos`.
std::optional<std::array<std::uint32_t, 6>> readSixNumbers(std::string_view text, std::size_t pos)
{
    std::array<std::uint32_t, 6> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return std::nullopt;
            ++pos;
        }
        const auto number = readNumber(text, pos, 3);
        if (!number || *number > 255)
            return std::nullopt;
        numbers[i] = *number;
    }
    return numbers;
}

}  // namespace

std::optional<std::uint16_t> parsePasvPort(std::string_view reply)
{
    // Skip the reply code itself; then try every place a number starts.
    for (std::size_t pos = 4; pos < reply.size(); ++pos) {
        if (!isDigit(reply[pos]) || isDigit(reply[pos - 1]))
            continue;
        if (const auto numbers = readSixNumbers(reply, pos)) {
            const auto port = static_cast<std::uint16_t>((*numbers)[4] * 256 + (*numbers)[5]);
            return port == 0 ? std::nullopt : std::optional<std::uint16_t>(port);
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> parseEpsvPort(std::string_view reply)
{
    const std::size_t open = reply.find('(');
    if (open == std::string_view::npos || reply.size() - open < 6)
        return std::nullopt;
    const char delimiter = reply[open + 1];
    if (delimiter < 33 || delimiter > 126 || isDigit(delimiter))
        return std::nullopt;
    if (reply[open + 2] != delimiter || reply[open + 3] != delimiter)
        return std::nullopt;
    std::size_t pos = open + 4;
    const auto port = readNumber(reply, pos, 5);
    if (!port || *port == 0 || *port > 65535 || pos + 1 >= reply.size() ||
        reply[pos] != delimiter || reply[pos + 1] != ')')
        return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}

std::optional<std::uint64_t> parseAnnouncedSize(std::string_view reply, std::string_view name)
{
    // Servers put the count last, after the name: "... for f (1234 bytes)."
    std::string_view line = reply.substr(reply.rfind('\n') + 1);
    if (!line.empty() && line.back() == '.')
        line.remove_suffix(1);
    // A server that gives no count may still echo a name that looks like one.
    if (!name.empty() && line.size() > name.size() &&
        line.substr(line.size() - name.size()) == name)
        return std::nullopt;
    constexpr std::string_view kSuffix = " bytes)";
    if (line.size() < kSuffix.size() || line.substr(line.size() - kSuffix.size()) != kSuffix)
        return std::nullopt;
    const std::size_t suffix = line.size() - kSuffix.size();
    std::size_t start = suffix;
    while (start > 0 && isDigit(line[start - 1]))
        --start;
    if (start < 2 || line[start - 1] != '(' || line[start - 2] != ' ')
        return std::nullopt;
    return parseDecimal(line.substr(start, suffix - start));
}

}  // namespace quorvane::client

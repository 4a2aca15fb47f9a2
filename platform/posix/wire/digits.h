// SPDX-License-Identifier: MIT
// Decimal numbers as the protocol writes them: ASCII digits only, and never
// a value past what 64 bits hold.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/ascii.h"

namespace quorvane::client {

using text::isDigit;

constexpr bool isDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// The value of `text`, or nothing when it is empty, holds anything but
// digits, or does not fit.
constexpr std::optional<std::uint64_t> parseDecimal(std::string_view text)
{
    if (!isDigits(text))
        return std::nullopt;
    std::uint64_t value = 0;
    // Up to 19 digits always fit: only a longer text needs the check.
    constexpr std::size_t kAlwaysFits = 19;
    if (text.size() <= kAlwaysFits) {
        for (const char c : text)
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        return value;
    }
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// The run of digits that starts at `text[pos]` (empty when none does).
constexpr std::string_view digitsAt(std::string_view text, std::size_t pos)
{
    std::size_t end = pos;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    return text.substr(pos, end - pos);
}

}  // namespace quorvane::client

// SPDX-License-Identifier: MIT
// ASCII character classes and case-insensitive matching of protocol words
// (schemes, facts, months, digits), which are ASCII whatever the locale says.
#pragma once

#include <algorithm>
#include <string_view>

namespace quorvane::text {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

}  // namespace quorvane::text

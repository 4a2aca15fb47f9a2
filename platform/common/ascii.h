// Case-insensitive matching of protocol words (schemes, facts, months), which
// are ASCII whatever the locale says.
#pragma once

#include <algorithm>
#include <string_view>

namespace quorvane::text {

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

}  // namespace quorvane::text

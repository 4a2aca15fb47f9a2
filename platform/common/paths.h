// SPDX-License-Identifier: MIT
// Path pieces both platforms need, whatever their characters.
#pragma once

#include <string>

namespace quorvane::text {

// The folder a path names a file in: what comes before its last separator
// (the root itself for a file in the root), "." for a bare name.
template <typename Char>
std::basic_string<Char> folderOf(const std::basic_string<Char>& path, const Char* separators)
{
    const auto slash = path.find_last_of(separators);
    if (slash == std::basic_string<Char>::npos)
        return std::basic_string<Char>(1, Char('.'));
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace quorvane::text

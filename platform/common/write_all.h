// SPDX-License-Identifier: MIT
// Writes all of a text to a descriptor, however many writes that takes.
#pragma once

#include <cerrno>
#include <string_view>

#if defined(_WIN32)
#  include <io.h>
#else
#  include <unistd.h>
#endif

namespace quorvane::text {

// False when a write fails (errno says why); an interrupted one goes on.
inline bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
#if defined(_WIN32)
        const int written = ::_write(fd, text.data(), static_cast<unsigned>(text.size()));
#else
        const ssize_t written = ::write(fd, text.data(), text.size());
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace quorvane::text

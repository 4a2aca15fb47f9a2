// SPDX-License-Identifier: MIT
// Text from elsewhere (a server, a file name) as a transcript or a one-line
// reason shows it: nothing in it can end the line, forge another, move the
// terminal or reorder what is read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::trace {

// Printable ASCII and UTF-8 as they are; everything else as \xNN byte by
// byte: controls, invalid bytes, line breaks, and format characters such as
// the bidirectional overrides and zero-width spaces (Unicode's category Cf).
// At most `limit` bytes of the original, with a mark where it was cut.
std::string escape(std::string_view text, std::size_t limit = 300);

}  // namespace quorvane::trace

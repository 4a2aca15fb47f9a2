// SPDX-License-Identifier: MIT
// What every WinINet entry point does around its work: arguments checked
// before they can become part of a command, and no exception ever let out to
// the caller.
#pragma once

#include <cerrno>
#include <new>
#include <optional>
#include <string>

#include "common/utf.h"
#include "posix/wininet/errors.h"

namespace quorvane::client {

// A text that may safely become part of a command line: valid UTF-16 and free
// of control characters (which would end or split the command). Null when not.
inline std::optional<std::string> commandText(const char16_t* value)
{
    auto utf8 = text::toUtf8(text::wideView(value));
    if (!utf8 || text::hasControlCharacter(*utf8))
        return std::nullopt;
    return utf8;
}

// Runs `body`; an exception becomes `failure`, reported.
template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        // Nothing written: the transcript would need memory too.
        Failure outOfMemory(FailureKind::Internal);
        outOfMemory.error = ENOMEM;
        reportFailure(outOfMemory);
    } catch (...) {
        reportFailure(Failure{FailureKind::Internal, "an unexpected error"});
    }
    return failure;
}

}  // namespace quorvane::client

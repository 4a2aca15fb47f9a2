// Helpers for the WinINet entry points: argument checks and the guard that
// keeps exceptions from crossing into the caller.
#pragma once

#include <new>
#include <optional>
#include <string>

#include "utf.h"
#include "wininet_types.h"

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

// Runs `body`; an exception becomes `failure` with the last error set.
template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    }
    return failure;
}

}  // namespace quorvane::client

// SPDX-License-Identifier: MIT
// The platform's FILETIME and SYSTEMTIME records, filled from and read as
// the 64-bit tick counts the client works with.
#pragma once

#include <optional>

#include "posix/local/file_time.h"
#include "posix/wininet/wininet_types.h"

namespace quorvane::client {

inline std::uint64_t ticksOf(const FILETIME& time)
{
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME fileTimeOf(std::uint64_t ticks)
{
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

inline std::optional<FILETIME> fileTimeOfUnixSeconds(std::int64_t seconds)
{
    const auto ticks = ticksOfUnixSeconds(seconds);
    return ticks ? std::optional<FILETIME>(fileTimeOf(*ticks)) : std::nullopt;
}

inline SYSTEMTIME systemTimeOf(std::uint64_t ticks)
{
    const CalendarTime time = calendarTimeOf(ticks);
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(time.civil.year);
    fields.wMonth = static_cast<WORD>(time.civil.month);
    fields.wDay = static_cast<WORD>(time.civil.day);
    fields.wHour = static_cast<WORD>(time.civil.hour);
    fields.wMinute = static_cast<WORD>(time.civil.minute);
    fields.wSecond = static_cast<WORD>(time.civil.second);
    fields.wMilliseconds = static_cast<WORD>(time.milliseconds);
    fields.wDayOfWeek = static_cast<WORD>(time.dayOfWeek);
    return fields;
}

}  // namespace quorvane::client

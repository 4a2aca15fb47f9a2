// SPDX-License-Identifier: MIT
// File times as the platform counts them: 100-nanosecond ticks since
// 1601-01-01 UTC, held in 64 bits, against Unix seconds and the calendar.
#pragma once

#include <cstdint>
#include <optional>

#include "posix/wire/calendar.h"

namespace quorvane::client {

inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;  // 1601 to 1970
inline constexpr std::uint64_t kMaxFileTimeTicks = 0x7FFFFFFFFFFFFFFFull;

inline std::int64_t unixSecondsOfTicks(std::uint64_t ticks)
{
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds;
}

// Null before 1601 or past the last tick. Inline: asked for every entry of a
// listing, and an optional returned from a call goes through memory.
inline std::optional<std::uint64_t> ticksOfUnixSeconds(std::int64_t seconds)
{
    const std::int64_t since1601 = seconds + kUnixEpochSeconds;
    if (since1601 < 0 ||
        static_cast<std::uint64_t>(since1601) > kMaxFileTimeTicks / kTicksPerSecond)
        return std::nullopt;
    return static_cast<std::uint64_t>(since1601) * kTicksPerSecond;
}

// A tick count split into the calendar's fields.
struct CalendarTime {
    CivilTime civil;
    int milliseconds = 0;
    int dayOfWeek = 0;  // Sunday is 0
};

CalendarTime calendarTimeOf(std::uint64_t ticks);

// The local zone's offset from UTC at `unixSeconds`, in seconds; null where
// the C library cannot tell.
std::optional<std::int64_t> localOffsetAt(std::int64_t unixSeconds);
// Reads the zone again (TZ, /etc/localtime): the C library reads it once and
// keeps it, so a zone changed since the host started shows only after this.
void readZoneAgain();

}  // namespace quorvane::client

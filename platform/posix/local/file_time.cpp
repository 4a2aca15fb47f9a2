#include "posix/local/file_time.h"

namespace quorvane::client {

std::optional<std::uint64_t> ticksOfUnixSeconds(std::int64_t seconds)
{
    const std::int64_t since1601 = seconds + kUnixEpochSeconds;
    if (since1601 < 0 ||
        static_cast<std::uint64_t>(since1601) > kMaxFileTimeTicks / kTicksPerSecond)
        return std::nullopt;
    return static_cast<std::uint64_t>(since1601) * kTicksPerSecond;
}

CalendarTime calendarTimeOf(std::uint64_t ticks)
{
    const std::int64_t seconds = unixSecondsOfTicks(ticks);
    const std::int64_t days = floorDiv(seconds, kSecondsPerDay);
    CalendarTime time;
    time.civil = civilFromUnixSeconds(seconds);
    time.milliseconds = static_cast<int>(ticks % kTicksPerSecond / 10'000);
    // 1970-01-01 was a Thursday.
    time.dayOfWeek = static_cast<int>(((days + 4) % 7 + 7) % 7);
    return time;
}

}  // namespace quorvane::client

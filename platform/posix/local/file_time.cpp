#include "posix/local/file_time.h"

namespace quorvane::client {

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

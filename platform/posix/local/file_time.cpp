#include "posix/local/file_time.h"

#include <time.h>

#include <atomic>

namespace quorvane::client {

namespace {

// The entries of a listing often share a time (LIST gives old files a day,
// recent ones a minute), and localtime_r, under a lock, was an eighth of a
// listing's work. So the last answer is kept, until the zone is read again.
std::atomic<std::uint64_t> zoneReadings{0};

struct KnownOffset {
    std::uint64_t reading = ~std::uint64_t{0};
    std::int64_t unixSeconds = 0;
    std::int64_t offset = 0;
};
thread_local KnownOffset lastOffset;

}  // namespace

std::optional<std::int64_t> localOffsetAt(std::int64_t unixSeconds)
{
    const std::uint64_t reading = zoneReadings.load(std::memory_order_acquire);
    if (lastOffset.reading == reading && lastOffset.unixSeconds == unixSeconds)
        return lastOffset.offset;
    const time_t instant = static_cast<time_t>(unixSeconds);
    tm local{};
    if (!::localtime_r(&instant, &local))
        return std::nullopt;
    lastOffset = {reading, unixSeconds, local.tm_gmtoff};
    return lastOffset.offset;
}

void readZoneAgain()
{
    ::tzset();
    zoneReadings.fetch_add(1, std::memory_order_release);
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

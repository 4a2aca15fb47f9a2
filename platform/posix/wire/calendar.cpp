#include "posix/wire/calendar.h"

namespace quorvane::client {

CivilTime civilFromUnixSeconds(std::int64_t seconds)
{
    const std::int64_t days = floorDiv(seconds, kSecondsPerDay);
    // Below the era, every value is a count from its start, never negative:
    // unsigned, the divisions need no sign corrections (a listing converts
    // every entry's time).
    const auto secondOfDay = static_cast<std::uint64_t>(seconds - days * kSecondsPerDay);
    const std::int64_t z = days + 719'468;
    const std::int64_t era = floorDiv(z, 146'097);
    const auto dayOfEra = static_cast<std::uint64_t>(z - era * 146'097);
    const std::uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t mp = (5 * dayOfYear + 2) / 153;
    CivilTime civil;
    civil.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    civil.year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 +
                                  (civil.month <= 2 ? 1 : 0));
    civil.hour = static_cast<int>(secondOfDay / 3600);
    civil.minute = static_cast<int>(secondOfDay / 60 % 60);
    civil.second = static_cast<int>(secondOfDay % 60);
    return civil;
}

}  // namespace quorvane::client

#include "posix/wire/calendar.h"

namespace quorvane::client {

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Howard Hinnant's days_from_civil: exact for every proleptic Gregorian date.
std::int64_t daysFromCivil(int year, int month, int day)
{
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = floorDiv(y, 400);
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

CivilTime civilFromUnixSeconds(std::int64_t seconds)
{
    const std::int64_t days = floorDiv(seconds, kSecondsPerDay);
    const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;
    const std::int64_t z = days + 719'468;
    const std::int64_t era = floorDiv(z, 146'097);
    const std::int64_t dayOfEra = z - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    CivilTime civil;
    civil.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    civil.year = static_cast<int>(yearOfEra + era * 400 + (civil.month <= 2 ? 1 : 0));
    civil.hour = static_cast<int>(secondOfDay / 3600);
    civil.minute = static_cast<int>(secondOfDay / 60 % 60);
    civil.second = static_cast<int>(secondOfDay % 60);
    return civil;
}

std::optional<std::int64_t> unixSecondsOf(const CivilTime& time)
{
    if (time.year < 1601 || time.year > 30'000 || time.month < 1 || time.month > 12 ||
        time.day < 1 || time.day > daysInMonth(time.year, time.month) || time.hour < 0 ||
        time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 ||
        time.second > 60)
        return std::nullopt;
    // A leap second is shown as the last second of its minute.
    const int second = time.second == 60 ? 59 : time.second;
    return daysFromCivil(time.year, time.month, time.day) * kSecondsPerDay + time.hour * 3600 +
           time.minute * 60 + second;
}

}  // namespace quorvane::client

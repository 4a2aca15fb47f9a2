// SPDX-License-Identifier: MIT
// The proleptic Gregorian calendar in UTC, without relying on the C
// library's range: the dates listings give, and the times the platform's
// records hold.
#pragma once

#include <cstdint>
#include <optional>

namespace quorvane::client {

inline constexpr std::int64_t kSecondsPerDay = 86'400;

// Calendar date and time of day, UTC.
struct CivilTime {
    int year = 1970;
    int month = 1;  // 1-12
    int day = 1;  // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// `value / divisor`, rounded towards negative infinity.
constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

constexpr bool isLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr int daysInMonth(int year, int month)
{
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Howard Hinnant's days_from_civil: exact for every proleptic Gregorian date.
constexpr std::int64_t daysFromCivil(int year, int month, int day)
{
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = floorDiv(y, 400);
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

// The date and time of day of Unix seconds.
CivilTime civilFromUnixSeconds(std::int64_t seconds);

// Null when the fields are out of range or before 1601. Inline, as every
// LIST line asks it, and an optional returned from a call goes through memory.
constexpr std::optional<std::int64_t> unixSecondsOf(const CivilTime& time)
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

// The server's clock, against which yearless LIST dates are placed: its year
// is worked out once a listing rather than once a line.
struct ServerClock {
    // Implicit: a clock is all a parser needs of a time.
    ServerClock(std::int64_t now) : now(now), year(civilFromUnixSeconds(now).year) {}

    std::int64_t now;  // Unix seconds
    int year;
};

}  // namespace quorvane::client

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

bool isLeapYear(int year);
int daysInMonth(int year, int month);

// Days since 1970-01-01 of a date, and back.
std::int64_t daysFromCivil(int year, int month, int day);
CivilTime civilFromUnixSeconds(std::int64_t seconds);

// Null when the fields are out of range or before 1601.
std::optional<std::int64_t> unixSecondsOf(const CivilTime& time);

// The server's clock, against which yearless LIST dates are placed: its year
// is worked out once a listing rather than once a line.
struct ServerClock {
    // Implicit: a clock is all a parser needs of a time.
    ServerClock(std::int64_t now) : now(now), year(civilFromUnixSeconds(now).year) {}

    std::int64_t now;  // Unix seconds
    int year;
};

// `value / divisor`, rounded towards negative infinity.
constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

}  // namespace quorvane::client

// FILETIME arithmetic: 100-nanosecond ticks since 1601-01-01 UTC, and the
// proleptic Gregorian calendar, without relying on the C library's range.
#pragma once

#include <cstdint>
#include <optional>

#include "wininet_types.h"

namespace quorvane::client {

inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;  // 1601 to 1970
inline constexpr std::uint64_t kMaxFileTimeTicks = 0x7FFFFFFFFFFFFFFFull;

inline std::uint64_t ticksOf(const FILETIME& time)
{
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME fileTimeOf(std::uint64_t ticks)
{
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

inline std::int64_t unixSecondsOf(std::uint64_t ticks)
{
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds;
}

// Calendar date and time of day, UTC.
struct CivilTime {
    int year = 1970;
    int month = 1;  // 1-12
    int day = 1;    // 1-31
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
std::optional<FILETIME> fileTimeOfUnixSeconds(std::int64_t seconds);

SYSTEMTIME systemTimeOf(std::uint64_t ticks);

}  // namespace quorvane::client

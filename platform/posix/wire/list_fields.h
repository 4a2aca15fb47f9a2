// SPDX-License-Identifier: MIT
// The fields LIST lines are made of, shared by the dialects' parsers: tokens
// split at blanks (nothing allocated: a listing may hold hundreds of
// thousands of lines), small numbers, month names, clocks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/ascii.h"
#include "posix/wire/calendar.h"
#include "posix/wire/digits.h"

namespace quorvane::client {

struct Token {
    std::string_view text;
    std::size_t end;  // just past the token, in the line
};

// The first few space-separated tokens of a line; nothing here allocates, as
// a listing may hold hundreds of thousands of lines.
class Tokens {
public:
    static constexpr std::size_t kMax = 12;

    Tokens(std::string_view line, std::size_t maxTokens)
    {
        std::size_t pos = 0;
        while (count_ < std::min(maxTokens, kMax)) {
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            if (pos == line.size())
                break;
            std::size_t end = pos;
            while (end < line.size() && line[end] != ' ')
                ++end;
            tokens_[count_++] = {line.substr(pos, end - pos), end};
            pos = end;
        }
    }

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const Token& operator[](std::size_t i) const { return tokens_[i]; }

private:
    std::array<Token, kMax> tokens_;  // the first count_ are set
    std::size_t count_ = 0;
};

inline Tokens tokenize(std::string_view line, std::size_t maxTokens)
{
    return Tokens(line, maxTokens);
}

inline std::optional<int> smallNumber(std::string_view text, std::size_t minDigits,
                                      std::size_t maxDigits)
{
    if (text.size() < minDigits || text.size() > maxDigits || !isDigits(text))
        return std::nullopt;
    return static_cast<int>(*parseDecimal(text));
}

constexpr std::uint32_t packed(char a, char b, char c)
{
    return std::uint32_t(std::uint8_t(a)) << 16 | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint8_t(c);
}

// Tried on several fields of every LIST line: three letters packed and
// compared at once.
inline std::optional<int> monthOf(std::string_view text)
{
    static constexpr std::array<std::uint32_t, 12> kMonths = {
        packed('j', 'a', 'n'), packed('f', 'e', 'b'), packed('m', 'a', 'r'), packed('a', 'p', 'r'),
        packed('m', 'a', 'y'), packed('j', 'u', 'n'), packed('j', 'u', 'l'), packed('a', 'u', 'g'),
        packed('s', 'e', 'p'), packed('o', 'c', 't'), packed('n', 'o', 'v'), packed('d', 'e', 'c')};
    if (text.size() != 3)
        return std::nullopt;
    const std::uint32_t key =
        packed(text::asciiLower(text[0]), text::asciiLower(text[1]), text::asciiLower(text[2]));
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (kMonths[i] == key)
            return static_cast<int>(i + 1);
    return std::nullopt;
}

// "H:MM" or "HH:MM".
inline bool parseClock(std::string_view text, int& hour, int& minute)
{
    if (text.size() < 4 || text.size() > 5 || text[text.size() - 3] != ':')
        return false;
    const auto h = smallNumber(text.substr(0, text.size() - 3), 1, 2);
    const auto m = smallNumber(text.substr(text.size() - 2), 2, 2);
    if (!h || !m || *h > 23 || *m > 59)
        return false;
    hour = *h;
    minute = *m;
    return true;
}

inline std::optional<std::int64_t> secondsOf(int year, int month, int day, int hour, int minute,
                                             int second = 0)
{
    return unixSecondsOf(CivilTime{year, month, day, hour, minute, second});
}

// Two-digit years as DOS listings write them: 70-99 are the 1900s.
inline int fullYear(int year, std::size_t digits)
{
    if (digits == 4)
        return year;
    return year < 70 ? 2000 + year : 1900 + year;
}

// ls shows the time instead of the year for recent dates (GNU ls up to about
// six months back; some servers for any date of the current year), and a
// modification time is almost never in the future. So the year meant is the
// latest that does not put the date ahead of now by more than a clock skew
// between server and client. Feb 29 falls back to the last leap year.
inline std::optional<std::int64_t> placeYearless(int month, int day, int hour, int minute,
                                                 const ServerClock& clock)
{
    constexpr std::int64_t kClockSkew = 2 * 86'400;
    for (int year = clock.year + 1; year >= clock.year - 8; --year) {
        const auto candidate = secondsOf(year, month, day, hour, minute);
        if (candidate && *candidate <= clock.now + kClockSkew)
            return candidate;
    }
    return std::nullopt;
}

}  // namespace quorvane::client

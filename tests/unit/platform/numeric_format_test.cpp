#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/numeric_format.h"

using namespace quorvane::text;

namespace {

// Appended after text already there, as a listing appends record after record.
std::string ours(const char* format, ...)
{
    const std::string before = "earlier text|";
    std::string out = before;
    va_list arguments;
    va_start(arguments, format);
    if (const auto compiled = NumericFormat::compile(format))
        compiled->append(out, arguments);
    va_end(arguments);
    EXPECT_EQ(out.compare(0, before.size(), before), 0) << format;
    return out.substr(before.size());
}

std::string libc(const char* format, ...)
{
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

// Every row is checked against the C library's own printf.
#define EXPECT_LIKE_PRINTF(format, ...)                                                            \
  EXPECT_EQ(ours(format, __VA_ARGS__), libc(format, __VA_ARGS__)) << (format)

TEST(NumericFormat, AgreesWithPrintf)
{
    EXPECT_LIKE_PRINTF("%02d/%02d/%04d  %02d:%02d:%02d", 3, 7, 2009, 14, 5, 9);
    EXPECT_LIKE_PRINTF(" %llu    ", 5368709120ull);
    EXPECT_LIKE_PRINTF(" %llu    ", ULLONG_MAX);
    EXPECT_LIKE_PRINTF(" %ld    ", 2147483647L);
    EXPECT_LIKE_PRINTF("%ld|%ld", LONG_MIN, LONG_MAX);
    EXPECT_LIKE_PRINTF("%lld|%lld", LLONG_MIN, LLONG_MAX);
    EXPECT_LIKE_PRINTF("%d|%i|%d", INT_MIN, INT_MAX, 0);
    EXPECT_LIKE_PRINTF("%d|%d|%d|%d|%d|%d|%d|%u", 9, 10, 99, 100, 101, 1000, 10010, 1000000000u);
    EXPECT_LIKE_PRINTF("%5d|%-5d|%05d|%+d|% d|%+05d|%-+6d|", 42, 42, -42, 42, 42, -7, 7);
    EXPECT_LIKE_PRINTF("%.3d|%8.3d|%-8.3d|%08.3d|%.0d|", 5, -5, 5, 5, 0);
    EXPECT_LIKE_PRINTF("%x|%X|%o|%08x|%u", 0xbeefu, 0xBEEFu, 8u, 255u, 4000000000u);
    EXPECT_LIKE_PRINTF("%hd|%hhd|%hu|%hhu", 70000, 300, 70000, 300);
    EXPECT_LIKE_PRINTF("%zu|%jd|%td", std::size_t{123}, std::intmax_t{-9}, std::ptrdiff_t{-4});
    EXPECT_LIKE_PRINTF("100%% of %d", 3);
    EXPECT_LIKE_PRINTF("no conversions at all", 0);
    // Fields at their longest: wide, precise, and octal of the largest value.
    EXPECT_LIKE_PRINTF("%300d|%-.200llo|%.25llo|%-+30lld|", -1, ULLONG_MAX, ULLONG_MAX, LLONG_MIN);
    // Around the short-field fast path: widths at and past its limit, zeros
    // with and without digits, literals longer than a short copy.
    EXPECT_LIKE_PRINTF("%032d|%033llu|%32u|%-32d|%032d|", 7, ULLONG_MAX, 5u, -3, -3);
    EXPECT_LIKE_PRINTF("%o|%x|%.0x|%5.0d|%d|%02d|", 0u, 0u, 0u, 0, 0, 0);
    EXPECT_LIKE_PRINTF(
        "a literal longer than thirty-two bytes of text %02d and another one as long "
        "after it, %llu, then the end",
        4, 12345678901234567890ull);
}

TEST(NumericFormat, OnlyIntegerConversionsAreAccepted)
{
    for (const char* good : {"", "plain", "%d", "%02d/%04d", " %llu    ", "%%", "%-+ 08.3lld",
                             "%hhx", "%zu", "%jd", "%td", "%o%X"})
        EXPECT_TRUE(NumericFormat::compile(good).has_value()) << good;
    for (const char* bad : {"%s", "%ls", "%n", "%p", "%c", "%f", "%e", "%g", "%a", "%#x", "%*d",
                            "%", "trailing %", "%l", "%lls", "%99999d", "%.99999d"})
        EXPECT_FALSE(NumericFormat::compile(bad).has_value()) << bad;
}

}  // namespace

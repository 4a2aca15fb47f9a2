#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/wide_stream.h"
#include "posix/wininet/file_times.h"
#include "runtime_api.h"

using namespace quorvane::client;

namespace {

FILETIME utcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    return *fileTimeOfUnixSeconds(
        *unixSecondsOf(CivilTime{year, month, day, hour, minute, second}));
}

SYSTEMTIME localFields(const FILETIME& utc)
{
    FILETIME local{};
    SYSTEMTIME fields{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_TRUE(FileTimeToSystemTime(&local, &fields));
    return fields;
}

// Sets the process's time zone for one test.
class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = getenv("TZ");
        saved_ = old ? std::optional<std::string>(old) : std::nullopt;
    }
    void TearDown() override
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        quorvane::client::readZoneAgain();
    }
    // As a listing sees a zone the host changed.
    static void zone(const char* name)
    {
        setenv("TZ", name, 1);
        quorvane::client::readZoneAgain();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(ZoneTest, LocalTimeUsesTheOffsetInEffectAtThatInstant)
{
    zone("Europe/Berlin");
    const SYSTEMTIME winter = localFields(utcFileTime(2023, 1, 15, 12, 0, 0));
    EXPECT_EQ(winter.wHour, 13);  // CET, UTC+1
    const SYSTEMTIME summer = localFields(utcFileTime(2023, 7, 15, 12, 0, 0));
    EXPECT_EQ(summer.wHour, 14);  // CEST, UTC+2
    // Across midnight and the year.
    const SYSTEMTIME newYear = localFields(utcFileTime(2009, 12, 31, 23, 30, 5));
    EXPECT_EQ(newYear.wYear, 2010);
    EXPECT_EQ(newYear.wMonth, 1);
    EXPECT_EQ(newYear.wDay, 1);
    EXPECT_EQ(newYear.wHour, 0);
    EXPECT_EQ(newYear.wMinute, 30);
    EXPECT_EQ(newYear.wSecond, 5);
}

TEST_F(ZoneTest, ZonesWestOfUtcGoBack)
{
    zone("America/New_York");
    const SYSTEMTIME fields = localFields(utcFileTime(2010, 1, 1, 3, 0, 0));
    EXPECT_EQ(fields.wYear, 2009);
    EXPECT_EQ(fields.wMonth, 12);
    EXPECT_EQ(fields.wDay, 31);
    EXPECT_EQ(fields.wHour, 22);
    // The same instant, once the zone has changed: nothing of the last is kept.
    zone("Europe/Berlin");
    EXPECT_EQ(localFields(utcFileTime(2010, 1, 1, 3, 0, 0)).wHour, 4);
}

TEST(FileTimes, CalendarFieldsOfKnownInstants)
{
    SYSTEMTIME fields{};
    const FILETIME origin{0, 0};
    ASSERT_TRUE(FileTimeToSystemTime(&origin, &fields));
    EXPECT_EQ(fields.wYear, 1601);
    EXPECT_EQ(fields.wMonth, 1);
    EXPECT_EQ(fields.wDay, 1);
    EXPECT_EQ(fields.wDayOfWeek, 1);  // a Monday

    const FILETIME leap = utcFileTime(2024, 2, 29, 23, 59, 59);
    ASSERT_TRUE(FileTimeToSystemTime(&leap, &fields));
    EXPECT_EQ(fields.wMonth, 2);
    EXPECT_EQ(fields.wDay, 29);
    EXPECT_EQ(fields.wSecond, 59);
    EXPECT_EQ(fields.wDayOfWeek, 4);  // a Thursday

    const FILETIME past2038 = utcFileTime(2100, 3, 1, 0, 0, 0);
    ASSERT_TRUE(FileTimeToSystemTime(&past2038, &fields));
    EXPECT_EQ(fields.wYear, 2100);
    EXPECT_EQ(fields.wMonth, 3);

    const FILETIME outOfRange{0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_FALSE(FileTimeToSystemTime(&outOfRange, &fields));
}

TEST(FileTimes, CivilConversionRoundTripsAcrossCenturies)
{
    for (std::int64_t day = -200'000; day <= 200'000; day += 97) {
        const CivilTime civil = civilFromUnixSeconds(day * 86'400 + 3'661);
        EXPECT_EQ(daysFromCivil(civil.year, civil.month, civil.day), day);
        EXPECT_EQ(civil.hour, 1);
        EXPECT_EQ(civil.second, 1);
    }
}

// Device paths map under the configured root; write under it in a folder of
// this test's own.
class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(std::filesystem::path(QUORVANE_DEVICE_ROOT) / folder_);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(std::filesystem::path(QUORVANE_DEVICE_ROOT) / folder_);
    }
    std::u16string devicePath(const std::string& name) const
    {
        const std::string path = "\\" + folder_ + "\\" + name;
        return std::u16string(path.begin(), path.end());
    }
    std::string content(const std::string& name) const
    {
        std::ifstream in(std::filesystem::path(QUORVANE_DEVICE_ROOT) / folder_ / name,
                         std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string folder_ = "runtime-test-" + std::to_string(::getpid());
};

TEST_F(StreamTest, WritesUtf8WithPlainLineEndsAndNoByteOrderMark)
{
    WideStream* stream = OpenWideStream(devicePath("out.txt").c_str(), u"w");
    ASSERT_NE(stream, nullptr);
    EXPECT_GT(WriteWideString(u"caf\u00e9 \u6587 \U0001F600", stream), 0);
    EXPECT_GT(WriteWideString(u"\n", stream), 0);
    EXPECT_GT(WriteWideFormatted(stream, u" %llu    ", 5368709120ull), 0);
    EXPECT_GT(WriteWideFormatted(stream, u"|%02d/%04d|%ld|%d%%", 7, 2009, -1L, 3), 0);
    EXPECT_EQ(CloseWideStream(stream), 0);
    EXPECT_EQ(content("out.txt"),
              "caf\xc3\xa9 \xe6\x96\x87 \xf0\x9f\x98\x80\n 5368709120    |07/2009|-1|3%");
}

// Many small writes past the buffer's size, texts and formats too long to be
// made in it at once, and a text that is not UTF-16: every byte, in order.
TEST_F(StreamTest, WritesOfEverySizeKeepEveryByteInOrder)
{
    WideStream* stream = OpenWideStream(devicePath("out.txt").c_str(), u"w");
    ASSERT_NE(stream, nullptr);
    std::string expected;
    for (int i = 0; i < 30'000; ++i) {
        ASSERT_EQ(WriteWideString(u"n\u00e9\n", stream), 4);
        ASSERT_EQ(WriteWideFormatted(stream, u"%02d|", i % 100), 3);
        expected += "n\xc3\xa9\n" + std::to_string(i % 100 / 10) + std::to_string(i % 10) + "|";
    }
    const std::u16string longText(20'000, u'\u00e9');
    EXPECT_EQ(WriteWideString(longText.c_str(), stream), 40'000);
    for (int i = 0; i < 20'000; ++i)
        expected += "\xc3\xa9";
    const char16_t unpaired[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(WriteWideString(unpaired, stream), 3);
    expected += "\xEF\xBF\xBD";
    EXPECT_EQ(WriteWideFormatted(stream, u"%4000d|%4000d|%4000d|%4000d|%-4000d", 1, 2, 3, 4, 5),
              20'004);
    for (const char digit : {'1', '2', '3', '4'})
        expected += std::string(3'999, ' ') + digit + "|";
    expected += "5" + std::string(3'999, ' ');
    EXPECT_EQ(CloseWideStream(stream), 0);
    EXPECT_EQ(content("out.txt"), expected);
}

TEST_F(StreamTest, UnsafeFormatsAreRefusedAndFailTheClose)
{
    WideStream* stream = OpenWideStream(devicePath("out.txt").c_str(), u"w");
    ASSERT_NE(stream, nullptr);
    EXPECT_LT(WriteWideFormatted(stream, u"%s"), 0);
    EXPECT_LT(WriteWideFormatted(stream, u"%n"), 0);
    EXPECT_NE(CloseWideStream(stream), 0);
}

// The hook that starts a long listing on its way to the disk hears where the
// file's data ends after every piece, up to its whole size; never after a
// write failed.
TEST(StreamProgress, EveryPieceIsHeardUpToTheWholeFile)
{
    std::vector<std::uint64_t> heard;
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    WideStream* stream =
        adoptWideStream(file, {}, [&](std::uint64_t end) { heard.push_back(end); });
    const std::u16string line(1'000, u'x');
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(WriteWideString(line.c_str(), stream), 1'000);
    std::fflush(file);
    const long size = std::ftell(file);
    ASSERT_GE(heard.size(), 4u);  // 300,000 bytes go out in several pieces
    EXPECT_EQ(heard.back(), static_cast<std::uint64_t>(size));
    EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
    EXPECT_EQ(CloseWideStream(stream), 0);
    EXPECT_EQ(heard.back(), 300'000u);

    heard.clear();
    std::FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    stream = adoptWideStream(readOnly, {}, [&](std::uint64_t end) { heard.push_back(end); });
    for (int i = 0; i < 100; ++i)
        WriteWideString(line.c_str(), stream);
    EXPECT_NE(CloseWideStream(stream), 0);
    EXPECT_TRUE(heard.empty());
}

TEST_F(StreamTest, OpenInAMissingFolderFails)
{
    EXPECT_EQ(OpenWideStream(devicePath("no\\such.txt").c_str(), u"w"), nullptr);
}

TEST_F(StreamTest, ReplaceMovesOverAnExistingFile)
{
    for (const char* name : {"a.txt", "b.txt"}) {
        WideStream* stream = OpenWideStream(devicePath(name).c_str(), u"w");
        ASSERT_NE(stream, nullptr);
        WriteWideString(std::u16string(name, name + 1).c_str(), stream);
        ASSERT_EQ(CloseWideStream(stream), 0);
    }
    EXPECT_TRUE(ReplaceWideFile(devicePath("a.txt").c_str(), devicePath("b.txt").c_str()));
    EXPECT_EQ(content("b.txt"), "a");
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::path(QUORVANE_DEVICE_ROOT) / folder_ / "a.txt"));
    // Nothing to put in its place: it fails, and the file stays.
    EXPECT_FALSE(ReplaceWideFile(devicePath("a.txt").c_str(), devicePath("b.txt").c_str()));
    EXPECT_EQ(content("b.txt"), "a");
    EXPECT_TRUE(DeleteWideFile(devicePath("b.txt").c_str()));
    EXPECT_FALSE(DeleteWideFile(devicePath("b.txt").c_str()));
}

}  // namespace

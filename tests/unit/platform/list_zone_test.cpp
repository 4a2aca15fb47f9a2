// SPDX-License-Identifier: MIT
#include "common/list_zone.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace quorvane::text;

namespace {

TEST(ListZone, OffsetFromOneListedTimeAndItsMdtm)
{
    constexpr std::int64_t hour = 3600;
    struct Row {
        std::int64_t listed, mdtm;  // seconds; the listed time read as UTC
        std::optional<std::int64_t> offset;
        const char* text;
    };
    const std::vector<Row> rows = {
        {10 * hour, 10 * hour, 0, "UTC+00:00"},
        // LIST shows minutes, MDTM seconds: 59 s earlier is still UTC.
        {10 * hour, 10 * hour + 59, 0, "UTC+00:00"},
        {15 * hour + 30 * 60, 10 * hour + 12, 5 * hour + 30 * 60, "UTC+05:30"},
        {10 * hour, 15 * hour + 45 * 60 - 30, -(5 * hour + 45 * 60), "UTC-05:45"},
        {24 * hour + 45 * 60, 10 * hour, 14 * hour + 45 * 60, nullptr},  // no zone is that wide
        {10 * hour, 10 * hour + 14 * hour, -14 * hour, "UTC-14:00"},
    };
    for (const Row& row : rows) {
        const auto offset = listZoneOffset(row.listed, row.mdtm);
        if (!row.text) {
            EXPECT_EQ(offset, std::nullopt) << row.listed << " " << row.mdtm;
            continue;
        }
        EXPECT_EQ(offset, row.offset) << row.listed << " " << row.mdtm;
        EXPECT_EQ(zoneText(*row.offset), row.text);
    }
}

TEST(ListZone, MdtmTimeFields)
{
    const auto fields = mdtmFields("20261208153012.250");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->year, 2026);
    EXPECT_EQ(fields->month, 12);
    EXPECT_EQ(fields->day, 8);
    EXPECT_EQ(fields->hour, 15);
    EXPECT_EQ(fields->minute, 30);
    EXPECT_EQ(fields->second, 12);
    for (const char* refused :
         {"", "2026120815301", "2026120815301x", "20261208153012 ", "-0261208153012"})
        EXPECT_FALSE(mdtmFields(refused)) << refused;
}

}  // namespace

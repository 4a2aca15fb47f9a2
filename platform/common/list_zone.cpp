// SPDX-License-Identifier: MIT
#include "common/list_zone.h"

#include <cstdio>
#include <cstdlib>

#include "common/ascii.h"

namespace quorvane::text {
namespace {

constexpr std::int64_t kQuarterHour = 900;
constexpr std::int64_t kWidestZone = 14 * 3600;

}  // namespace

std::optional<CivilFields> mdtmFields(std::string_view time)
{
    if (time.size() < 14 || (time.size() > 14 && time[14] != '.'))
        return std::nullopt;
    int value[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t at = 0;
    for (int field = 0; field < 6; ++field)
        for (int digit = 0; digit < widths[field]; ++digit, ++at) {
            if (!isDigit(time[at]))
                return std::nullopt;
            value[field] = value[field] * 10 + (time[at] - '0');
        }
    return CivilFields{value[0], value[1], value[2], value[3], value[4], value[5]};
}

std::optional<std::int64_t> listZoneOffset(std::int64_t listed, std::int64_t mdtm)
{
    const std::int64_t shifted = listed - mdtm + kQuarterHour / 2;
    // Rounded down, negative differences too.
    const std::int64_t quarters = shifted / kQuarterHour - (shifted % kQuarterHour < 0 ? 1 : 0);
    const std::int64_t offset = quarters * kQuarterHour;
    if (std::llabs(offset) > kWidestZone)
        return std::nullopt;
    return offset;
}

std::string zoneText(std::int64_t offset)
{
    // Room for any int64_t: the compiler cannot know offsets stay within a day.
    char text[32];
    const std::int64_t minutes = std::llabs(offset) / 60;
    std::snprintf(text, sizeof text, "UTC%c%02lld:%02lld", offset < 0 ? '-' : '+',
                  static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
    return text;
}

}  // namespace quorvane::text

// SPDX-License-Identifier: MIT
// The zone of a server's LIST times, one rule on both platforms. LIST times
// carry none: many servers list in UTC, many in their own local time. One
// listed time of day against the same file's MDTM (UTC, RFC 3659) tells
// which, once a session, as FileZilla's client finds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::text {

struct CivilFields {
    int year, month, day, hour, minute, second;
};

// The fields of an MDTM time, "YYYYMMDDHHMMSS" with or without a fraction.
std::optional<CivilFields> mdtmFields(std::string_view time);

// How far east of UTC the server lists, in seconds, from one file's listed
// time (its fields read as UTC) and its MDTM time: the difference rounded
// to the quarter hour (zones are whole quarters; LIST shows minutes, MDTM
// seconds); nothing where they are further apart than any zone.
std::optional<std::int64_t> listZoneOffset(std::int64_t listed, std::int64_t mdtm);

// "UTC+05:30".
std::string zoneText(std::int64_t offset);

}  // namespace quorvane::text

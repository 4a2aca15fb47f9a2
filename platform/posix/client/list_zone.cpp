// SPDX-License-Identifier: MIT
// The zone of a server's LIST times. They carry none: many servers list in
// UTC, many in their own local time. One listed time of day against the
// same file's MDTM (UTC, RFC 3659) tells which, once a session, as
// FileZilla's client finds it.
#include <cstdio>
#include <cstdlib>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/wire/calendar.h"
#include "posix/wire/file_facts.h"

namespace quorvane::client {
namespace {

// Zones are whole quarter hours; LIST shows minutes, MDTM seconds.
constexpr std::int64_t kQuarterHour = 900;
constexpr std::int64_t kWidestZone = 14 * 3600;

// "YYYYMMDDHHMMSS[.sss]" as Unix seconds.
std::optional<std::int64_t> secondsOfMdtm(const std::string& text)
{
    const auto field = [&](std::size_t at, std::size_t length) {
        return std::atoi(text.substr(at, length).c_str());
    };
    return unixSecondsOf(
        CivilTime{field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2), field(12, 2)});
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

}  // namespace

FtpConnection::ListZone FtpConnection::listZone()
{
    std::lock_guard lock(mutex_);
    return listZone_;
}

void FtpConnection::learnListZone(std::string_view name, std::int64_t listed)
{
    std::lock_guard lock(mutex_);
    if (listZone_.settled)
        return;
    // Without a time of day to go by, the next listing may have one.
    if (name.empty()) {
        if (!listZone_.unknownSaid)
            trace::line() << "LIST times are taken as UTC: no entry shows a time of day";
        listZone_.unknownSaid = true;
        return;
    }
    listZone_.settled = true;
    const auto keep = [](const char* why) {
        trace::line() << "LIST times are taken as UTC: " << why;
    };
    if (!features_.mdtm || !readyFor({name}))
        return keep("the server offers no MDTM");
    auto reply = control_->execute(std::string("MDTM ").append(name));
    const auto time = reply ? parseMdtmReply(*reply) : Answer<std::string>{};
    const auto truth = time.has() ? secondsOfMdtm(time.value) : std::nullopt;
    if (!truth)
        return keep("MDTM gave no time");
    const std::int64_t difference = listed - *truth;
    const std::int64_t offset =
        floorDiv(difference + kQuarterHour / 2, kQuarterHour) * kQuarterHour;
    if (std::llabs(offset) > kWidestZone)
        return keep("MDTM and LIST are further apart than any zone");
    listZone_.offset = offset;
    trace::line() << "LIST times are " << zoneText(offset) << " (MDTM of " << trace::escape(name)
                  << ")";
}

}  // namespace quorvane::client

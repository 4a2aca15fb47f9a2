// SPDX-License-Identifier: MIT
// The zone of a server's LIST times, learnt once a session (the rule is in
// common/list_zone.h).
#include "common/list_zone.h"
#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/wire/calendar.h"
#include "posix/wire/file_facts.h"

namespace quorvane::client {
namespace {

std::optional<std::int64_t> secondsOfMdtm(const std::string& time)
{
    const auto fields = text::mdtmFields(time);
    if (!fields)
        return std::nullopt;
    return unixSecondsOf(CivilTime{fields->year, fields->month, fields->day, fields->hour,
                                   fields->minute, fields->second});
}

}  // namespace

ListZone FtpConnection::listZone()
{
    std::lock_guard lock(mutex_);
    // Without MDTM nothing will tell the zone: no listing waits for it.
    if (!learned_.listZone.settled && !learned_.features.mdtm) {
        learned_.listZone.settled = true;
        trace::line() << "LIST times are taken as UTC: the server offers no MDTM";
    }
    return learned_.listZone;
}

void FtpConnection::learnListZone(std::string_view name, std::int64_t listed)
{
    std::lock_guard lock(mutex_);
    if (learned_.listZone.settled)
        return;
    // Without a time of day to go by, the next listing may have one.
    if (name.empty()) {
        if (!learned_.listZone.unknownSaid)
            trace::line() << "LIST times are taken as UTC: no entry shows a time of day";
        learned_.listZone.unknownSaid = true;
        return;
    }
    learned_.listZone.settled = true;
    const auto keep = [](const char* why) {
        trace::line() << "LIST times are taken as UTC: " << why;
    };
    if (!readyFor({name}))
        return keep("MDTM cannot be asked now");
    auto reply = control().execute(std::string("MDTM ").append(name));
    const auto time = reply ? parseMdtmReply(*reply) : Answer<std::string>{};
    const auto truth = time.has() ? secondsOfMdtm(time.value) : std::nullopt;
    if (!truth)
        return keep("MDTM gave no time");
    const auto offset = text::listZoneOffset(listed, *truth);
    if (!offset)
        return keep("MDTM and LIST are further apart than any zone");
    learned_.listZone.offset = offset;
    trace::line() << "LIST times are " << text::zoneText(*offset) << " (MDTM of "
                  << trace::escape(name) << ")";
}

}  // namespace quorvane::client

// SPDX-License-Identifier: MIT
// Folder listings as servers send them, turned into entries.
//
// MLSD (RFC 3659), used where FEAT offers MLST:
//   type=file;size=4400;modify=20221105162000;perm=rwadf; log.txt
// LIST, which has no standard; the dialects understood, tried in order:
//   Unix ls -l:   -rw-r--r--   1 alice  staff     8192 Mar  4 09:41 notes.txt
//                 drwxr-xr-x   4 alice  staff      512 Oct 17  2021 archive
//                 lrwxrwxrwx   1 root   root        12 Jun  3 18:02 current -> release-7
//                 crw-rw-rw-   1 root   root     1,   3 Jan  9 07:15 null
//                 drwxr-xr-x  folder  0 Nov  5 16:20 Reports      (no link count, no group)
//   DOS/IIS:      11-05-22  04:20PM       <DIR>          Reports
//                 11-05-2022  04:20 PM             4400 log.txt
//                 03-21-08  13:05                  640 settings.xml    (Windows CE, 24-hour)
//   and the dialects of list_dialects.h.
// LIST times carry no zone: the parser reads them as if they were UTC, and
// the caller moves them by the server's zone where it has learnt it. MLSD
// times are UTC by definition. A folder's own entry and its parent's come
// out as "." and "..", from either listing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "posix/wire/calendar.h"

namespace quorvane::client {

struct ListingEntry {
    std::string name;  // as the server sent it; checked by the caller
    std::uint64_t size = 0;
    bool directory = false;
    std::optional<std::int64_t> modified;  // Unix seconds, UTC (LIST: as if the server's zone were)
    bool timeOfDay = false;  // LIST: the line showed a time of day, not only a date

    bool operator==(const ListingEntry&) const = default;
};

enum class LineResult {
    NotMine,  // another dialect's line
    Parsed,  // `entry` holds the line's entry
    Ignored,  // a line that names no entry: "total 12", a header
    Malformed,  // this dialect's line, but broken: skipped and counted
};

LineResult parseMlsdLine(std::string_view line, ListingEntry& entry);

// `now` (Unix seconds, as the server's clock reads in its own zone where
// known) places yearless Unix dates.
LineResult parseUnixLine(std::string_view line, const ServerClock& now, ListingEntry& entry);
LineResult parseDosLine(std::string_view line, ListingEntry& entry);

// The LIST chain: each dialect in turn until one claims the line.
LineResult parseListLine(std::string_view line, const ServerClock& now, ListingEntry& entry);

enum class ListingFormat { Mlsd, List };

struct ListingStats {
    std::size_t parsed = 0;
    std::size_t ignored = 0;
    std::size_t unparsed = 0;  // malformed or of no known dialect
    // The start of the first such line, for saying why an entry is missing.
    std::string firstUnparsed;
};

// Parses a listing as it arrives, in pieces of any size, handing each entry
// to `onEntry` in the server's order. Bad lines are skipped and counted,
// never fatal; a line longer than kMaxLine is skipped without being held.
// The entry handed over is valid during the call only: its memory serves the
// next line, so that a long listing allocates nothing per entry.
class ListingParser {
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    using EntrySink = std::function<void(const ListingEntry&)>;

    ListingParser(ListingFormat format, std::int64_t now, EntrySink onEntry)
        : format_(format), now_(now), onEntry_(std::move(onEntry))
    {
    }

    void feed(std::string_view bytes);
    // The last line, when the listing does not end with a line end.
    void finish();

    const ListingStats& stats() const { return stats_; }

private:
    void parseLine(std::string_view line);
    void notUnderstood(std::string_view line);
    // VMS: a long name on a line of its own joins the line that follows.
    bool joinVmsLines(std::string_view& line);

    ListingFormat format_;
    ServerClock now_;
    EntrySink onEntry_;
    ListingStats stats_;
    std::string partial_;  // the start of a line split across pieces
    std::string vmsName_;  // a VMS name waiting for its details
    ListingEntry entry_;  // the line's, started over for each
    bool skippingLong_ = false;  // inside a line past kMaxLine
};

}  // namespace quorvane::client

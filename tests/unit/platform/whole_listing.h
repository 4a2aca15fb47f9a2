// SPDX-License-Identifier: MIT
// Every entry of a whole listing, parsed in one piece: what the tests and the
// fuzzers compare the streamed parser against.
#pragma once

#include <string_view>
#include <vector>

#include "posix/wire/listing_parser.h"

namespace quorvane::client {

inline std::vector<ListingEntry> parseListing(std::string_view listing, ListingFormat format,
                                              std::int64_t now, ListingStats& stats)
{
    std::vector<ListingEntry> entries;
    ListingParser parser(format, now, [&](const ListingEntry& entry) { entries.push_back(entry); });
    parser.feed(listing);
    parser.finish();
    stats = parser.stats();
    return entries;
}

}  // namespace quorvane::client

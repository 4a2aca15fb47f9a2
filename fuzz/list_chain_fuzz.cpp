// SPDX-License-Identifier: MIT
// Whole LIST and MLSD listings: the entries do not depend on how the listing
// was cut into pieces on the way, and every name is a piece of one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "posix/wire/listing_parser.h"
#include "whole_listing.h"

using namespace quorvane::client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const auto format = data[0] & 1 ? ListingFormat::Mlsd : ListingFormat::List;
    const std::size_t piece = 1 + data[1] % 97;
    const std::string_view listing(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::int64_t now = 1'718'452'800;  // 2024-06-15 12:00 UTC

    ListingStats whole;
    const auto expected = parseListing(listing, format, now, whole);

    std::vector<ListingEntry> pieces;
    ListingParser parser(format, now, [&](const ListingEntry& entry) { pieces.push_back(entry); });
    for (std::size_t at = 0; at < listing.size(); at += piece)
        parser.feed(listing.substr(at, piece));
    parser.finish();

    if (pieces != expected || parser.stats().parsed != whole.parsed)
        std::abort();
    for (const ListingEntry& entry : expected)
        if (entry.name.empty() || entry.name.find('\n') != std::string::npos)
            std::abort();
    return 0;
}

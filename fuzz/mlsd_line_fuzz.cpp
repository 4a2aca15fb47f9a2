// SPDX-License-Identifier: MIT
// One MLSD line: a parsed entry's name is exactly the text after the first
// space, and never empty; or "." or ".." for the folder's own entries
// (cdir, pdir), whatever name the server gives them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "posix/wire/listing_parser.h"

using namespace quorvane::client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    ListingEntry entry;
    if (parseMlsdLine(line, entry) != LineResult::Parsed)
        return 0;
    const bool ownEntry = entry.name == "." || entry.name == "..";
    if (entry.name.empty() || (!ownEntry && entry.name != line.substr(line.find(' ') + 1)))
        std::abort();
    return 0;
}

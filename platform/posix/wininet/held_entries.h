// SPDX-License-Identifier: MIT
// The entries of a listing that wait for the server's zone (a session's
// first LIST listing, to its end): the first kInMemory in memory, the rest in
// a temporary file. Each waits as one record, so that neither holding nor
// handing back allocates for each entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/spill_file.h"
#include "posix/wire/listing_parser.h"

struct HeldEntry {
    std::string_view name;  // valid until the next call of next()
    std::uint64_t size = 0;
    bool directory = false;
    std::optional<std::int64_t> modified;
};

class HeldEntries {
public:
    static constexpr std::size_t kInMemory = 10'000;

    // False once the temporary file could not be made or written (errno
    // says why).
    bool add(const quorvane::client::ListingEntry& entry);
    // Done adding: next() hands them back from the first on. False when the
    // temporary file cannot be read back.
    bool rewind();
    // The next entry, in the order added; nothing at the end, or when the
    // temporary file failed (failed() then says so).
    std::optional<HeldEntry> next();
    bool failed() const { return unreadable_ || (spill_ && spill_->failed()); }

private:
    std::string memory_;  // the records held in memory, each after its length
    std::size_t inMemory_ = 0;
    std::size_t readAt_ = 0;  // in memory_, once rewound
    std::optional<SpillFile> spill_;  // the records past kInMemory
    std::string record_;  // the one being added
    bool unreadable_ = false;  // the file gave back what was not a record
};

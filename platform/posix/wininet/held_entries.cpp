#include "posix/wininet/held_entries.h"

#include <cstdio>
#include <cstring>

#include "common/transcript.h"

using quorvane::client::ListingEntry;

namespace {

// A record: size, time, flags, then the name.
constexpr std::size_t kFixed = sizeof(std::uint64_t) + sizeof(std::int64_t) + 1;
constexpr char kDirectory = 1;
constexpr char kTimed = 2;

using Length = std::uint32_t;  // before each record in memory

// Made in `record`, whose memory serves every entry.
void encode(const ListingEntry& entry, std::string& record)
{
    record.resize(kFixed);
    const std::int64_t modified = entry.modified.value_or(0);
    std::memcpy(record.data(), &entry.size, sizeof entry.size);
    std::memcpy(record.data() + sizeof entry.size, &modified, sizeof modified);
    record.back() =
        static_cast<char>((entry.directory ? kDirectory : 0) | (entry.modified ? kTimed : 0));
    record.append(entry.name);
}

std::optional<HeldEntry> decode(std::string_view record)
{
    if (record.size() < kFixed)
        return std::nullopt;
    HeldEntry entry;
    std::int64_t modified = 0;
    std::memcpy(&entry.size, record.data(), sizeof entry.size);
    std::memcpy(&modified, record.data() + sizeof entry.size, sizeof modified);
    const char flags = record[kFixed - 1];
    entry.directory = (flags & kDirectory) != 0;
    if (flags & kTimed)
        entry.modified = modified;
    entry.name = record.substr(kFixed);
    return entry;
}

}  // namespace

bool HeldEntries::add(const ListingEntry& entry)
{
    encode(entry, record_);
    if (inMemory_ < kInMemory) {
        ++inMemory_;
        const auto length = static_cast<Length>(record_.size());  // a line is at most 64 KiB
        memory_.append(reinterpret_cast<const char*>(&length), sizeof length).append(record_);
        return true;
    }
    if (!spill_) {
        // Unnamed, and gone once closed.
        spill_.emplace(std::tmpfile());
        quorvane::trace::line() << "listing: more than " << std::uint64_t{kInMemory}
                                << " entries wait for the server's zone: the rest in a "
                                   "temporary file";
    }
    return spill_->append(record_);
}

bool HeldEntries::rewind()
{
    readAt_ = 0;
    return !spill_ || spill_->rewind();
}

std::optional<HeldEntry> HeldEntries::next()
{
    if (readAt_ < memory_.size()) {
        Length length = 0;
        std::memcpy(&length, memory_.data() + readAt_, sizeof length);
        const std::string_view record(memory_.data() + readAt_ + sizeof length, length);
        readAt_ += sizeof length + length;
        return decode(record);
    }
    if (!spill_)
        return std::nullopt;
    const auto record = spill_->next();
    if (!record)
        return std::nullopt;
    auto entry = decode(*record);
    unreadable_ = !entry;
    return entry;
}

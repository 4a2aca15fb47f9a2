#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/spill_file.h"
#include "posix/wininet/held_entries.h"

namespace {

// Records read back as written, in order, whatever their sizes: empty ones,
// runs of short ones that cross the pieces the file is read in, and one
// larger than a piece.
TEST(SpillFile, GivesBackEveryRecordInOrder)
{
    std::vector<std::string> records = {"", "a", std::string(200'000, 'x'), ""};
    for (int i = 0; i < 30'000; ++i)
        records.push_back("file-" + std::to_string(i));
    SpillFile spill(std::tmpfile());
    for (const std::string& record : records)
        ASSERT_TRUE(spill.append(record));
    ASSERT_TRUE(spill.rewind());
    for (const std::string& record : records) {
        const auto read = spill.next();
        ASSERT_TRUE(read.has_value());
        ASSERT_EQ(*read, record);
    }
    EXPECT_FALSE(spill.next().has_value());
    EXPECT_FALSE(spill.failed());
}

TEST(SpillFile, ACutFileOrNoFileFails)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const char cut[] = {5, 0, 0, 0, 'a', 'b'};  // a five-byte record, two there
    ASSERT_EQ(std::fwrite(cut, 1, sizeof cut, file), sizeof cut);
    SpillFile spill(file);
    ASSERT_TRUE(spill.rewind());
    EXPECT_FALSE(spill.next().has_value());
    EXPECT_TRUE(spill.failed());

    SpillFile none(nullptr);
    EXPECT_FALSE(none.append("a"));
    EXPECT_FALSE(none.rewind());
    EXPECT_FALSE(none.next().has_value());
}

// Entries waiting for the zone come back whole and in order, across the
// bound where memory gives way to the file: every field, a long name, a
// folder, an entry without a time and one at a negative time.
TEST(HeldEntries, GiveBackEveryEntryInOrderAcrossMemoryAndFile)
{
    using quorvane::client::ListingEntry;
    std::vector<ListingEntry> entries;
    for (std::size_t i = 0; i < HeldEntries::kInMemory + 3'000; ++i) {
        ListingEntry entry;
        entry.name = "file-" + std::to_string(i);
        entry.size = (std::uint64_t{1} << 40) + i;
        entry.modified = 1'700'000'000 + static_cast<std::int64_t>(i);
        entry.directory = i % 7 == 0;
        if (i % 11 == 0)
            entry.modified.reset();
        entries.push_back(entry);
    }
    for (const std::size_t at :
         {std::size_t{0}, HeldEntries::kInMemory - 1, HeldEntries::kInMemory, entries.size() - 1}) {
        entries[at].name += std::string(300, 'n');
        entries[at].modified = -86'400;
    }
    HeldEntries held;
    for (const ListingEntry& entry : entries)
        ASSERT_TRUE(held.add(entry));
    ASSERT_TRUE(held.rewind());
    for (const ListingEntry& entry : entries) {
        const auto back = held.next();
        ASSERT_TRUE(back.has_value());
        ASSERT_EQ(back->name, entry.name);
        ASSERT_EQ(back->size, entry.size);
        ASSERT_EQ(back->directory, entry.directory);
        ASSERT_EQ(back->modified, entry.modified);
    }
    EXPECT_FALSE(held.next().has_value());
    EXPECT_FALSE(held.failed());
}

}  // namespace

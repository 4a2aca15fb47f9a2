#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/spill_file.h"

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

}  // namespace
